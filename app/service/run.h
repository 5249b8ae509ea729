#pragma once
// The two halves of the program: the daemon that holds the port, and the
// client that asks it. Each returns the exit code.

#include "app/service/cli.h"

int RunDaemon(const TCommandLine& line);
int RunClient(const TCommandLine& line);
