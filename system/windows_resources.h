// The resources of ostrivale.exe that the program looks up by number. Read by
// windres for packaging/windows/ostrivale.rc.in as well, so it holds
// preprocessor lines only.
#pragma once

// The program's icon: Explorer's, the console window's (console_binding_windows).
#define OSTRIVALE_ICON_RESOURCE 1
