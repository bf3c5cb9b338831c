#pragma once
// A process that no one may find held in a crash dialog: the helper of a
// bridged plug-in and the host program. A fault that nothing inside the
// process takes ends it at once, with the exception code as its exit
// status, so that whoever waits on it sees it end instead of a process
// that lives and never answers (Windows Error Reporting, or Wine's
// debugger, would otherwise hold it). The system's own error boxes (a
// missing disk, a file that cannot be opened) are not shown either.

void EndAtOnceOnCrash();
