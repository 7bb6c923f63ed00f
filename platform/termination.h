// Whether the process has been asked to end (SIGTERM and the like). Windows that
// are about to start their own loop look here first.
#pragma once

void RequestTermination();
bool TerminationRequested();
