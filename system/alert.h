// The alert sound and the pause of the dialogue.
#pragma once

// The system's default alert, returning at once: MessageBeep with type 0 on
// Windows; on a POSIX terminal the bell, written to standard output (so only
// in terminal mode, after the frame that goes with it).
void SoundAlert();

// Sleeps for `milliseconds` (nothing when not positive), resuming after
// interruptions until the time has passed.
void PauseMilliseconds(int milliseconds);
