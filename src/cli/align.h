// varnel-cli align: automatic alignment with a measuring instrument.
#pragma once

// argv[1] is "align"; the options follow. Returns the process exit status.
int RunAlign(int argc, char** argv);
