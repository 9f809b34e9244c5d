// The guard that lets only one copy of the program run: a window of the stored class means that
// another copy is already serving requests.
#pragma once

void SetInstanceClassName(const char* className);
// True when a live window of the stored class exists (windows of dead processes do not count).
bool OtherInstanceRunning();
// Ends the process in the orderly way (exit handlers run, nothing is shown or sent) when another
// copy runs; returns otherwise.
void CheckSingleInstance();
