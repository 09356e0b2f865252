// Helper process for the process tests, copied under several names.
//   sleep     waits up to a minute, then exits with 3
//   exitself  starts worker threads and ends itself with ExitSelf
#include <windows.h>

#include <cstring>

#include "process/process_control.h"
#include "process/worker_threads.h"

namespace {

DWORD WINAPI Sleeper(void*) {
    Sleep(60000);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "exitself") == 0) {
        StartThreadRegistry();
        StartWorkerThread(Sleeper);
        Sleep(200);  // the reaper is waiting on the sleeper now
        ExitSelf();
    }
    Sleep(60000);
    return 3;
}
