#pragma once

#include "transfer/transfer_job.h"

class Console;

// The main thread's side of a running transfer: progress stars, ESC to
// cancel, and the tidying up once the worker has ended.

// One poll of the running job; true once its worker has ended, after the
// line end, the outcome and the carriage return that hands the line back.
bool waitForJob(Console& console, TransferJob& job);

// The whole wait, from just after the worker started to the job's end,
// which it owns from here on. True when the worker ended by itself and its
// transfer went through; false after a failure or a cancel.
bool foregroundWait(Console& console, Owned<TransferJob> job);
