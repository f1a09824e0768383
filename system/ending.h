// Events that end the program from outside: on POSIX every signal whose
// default action ends the process (TERM, HUP, INT, QUIT, USR1, USR2, ALRM,
// the real-time signals and the rest; a closed terminal sends HUP), SIGKILL
// alone excepted, which nothing can catch; on Windows Ctrl+C and Ctrl+Break
// where the console treats them as events, closing the console window,
// logoff and shutdown. And crashes, so that the console is put back on every
// way out.
#pragma once

// Registers `restore`, run once when an ending event or a crash ends the
// program, before it ends the way the event means (POSIX: the signal's
// default action; Windows: the system's default handler, which ends the
// process). On POSIX `restore` runs in a signal handler and must be
// async-signal-safe, and a signal ignored when this is called (nohup) stays
// ignored; on Windows it runs on a thread the system starts for the event, or
// on the crashing thread. A later call replaces the function.
void RestoreBeforeEnding(void (*restore)());

// From HoldEndingEvents to ReleaseEndingEvents an ending event waits: it ends
// the program once released (ReleaseEndingEvents then does not return), so a
// step that must not be cut short (a temporary output file that exists)
// completes or undoes itself first. Crashes are not held. Holds do not nest:
// a second hold changes nothing, and one release ends the hold. Both are
// called from the job's thread; on POSIX the hold covers that thread and the
// threads it starts meanwhile. Windows lets a closed window wait only a few
// seconds before it ends the process anyway: a long step asks
// EndingEventWaiting as it goes.
void HoldEndingEvents();
void ReleaseEndingEvents();

// Runs `step` with the ending events kept waiting on the calling thread: for
// a step that the ending restore would otherwise run again over its own
// unfinished work (the terminal's restore, whose bytes sent twice pop one
// saved title too many). An event that arrives meanwhile comes once `step`
// is over. Unlike HoldEndingEvents it nests: inside a hold the events still
// wait afterwards. POSIX: the ending signals blocked on this thread, then the
// mask put back as it was. Windows: runs `step` as it is; console events
// come on threads of their own, where the restore runs once in any case.
void RunWithEndingEventsBlocked(void (*step)());

// True when an ending event arrived during the hold and waits for its
// release: the held step gives up at once. (On POSIX a signal that is
// ignored, as under nohup, ends nothing and does not count.)
bool EndingEventWaiting();
