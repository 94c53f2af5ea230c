// The option-letter dispatch of the command, after the configuration is
// loaded and the command line logged.
#pragma once

// Runs the command that the arguments name and returns its result. *ended
// is set to false when the command must end without its closing message
// (a session open that failed, INIT on a missing catalog).
int zutevDispatch(int argc, char** argv, bool* ended);
