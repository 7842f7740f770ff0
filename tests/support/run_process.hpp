#pragma once

// RunProcess, RunCli, BinPath and SplitLines live beside ChildProcess.
#include "support/child_process.hpp"
