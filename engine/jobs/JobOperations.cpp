// Until the producer and writer are in place no job can be started.
#include "engine/jobs/JobOperations.h"

namespace velk::jobs {

int StartBurn(ImageProject&, RecorderDevice&, CompletionCallback, void*) { return 0; }
int StartBurnFromImage(ImageProject&, RecorderDevice&, const char*, CompletionCallback, void*) {
    return 0;
}
int StartWriteImage(ImageProject&, RecorderDevice&, const char*, CompletionCallback, void*) {
    return 0;
}
int StartErase(ImageProject&, RecorderDevice&, int, CompletionCallback, void*) { return 0; }
void SetCloseOnly(ImageProject&) {}

}  // namespace velk::jobs
