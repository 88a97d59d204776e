// PrepareImage over a project at the item limit: 20,000 folders (200 with 99
// subfolders each) holding 180,000 virtual files, 200,000 items in all. The tree
// is built once; each iteration plans it again.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "engine/api/BurnEngine.h"
#include "engine/image/ImageProject.h"
#include "platform/Text.h"

namespace {

std::int32_t zeros(velk::FileItem*, std::uint32_t, std::uint8_t* destination, std::uint32_t* count,
                   void*) {
    std::fill(destination, destination + *count, std::uint8_t{0});
    return 1;
}

velk::BurnEngine& bigProject() {
    static std::unique_ptr<velk::BurnEngine> engine = [] {
        auto made = std::make_unique<velk::BurnEngine>();
        velk::platform::FindData record;
        for (int top = 0; top < 200; ++top) {
            std::u16string topName = velk::platform::toUtf16("Folder " + std::to_string(top));
            made->CreateFolderW(u"\\", topName.c_str());
            for (int sub = 0; sub < 99; ++sub) {
                std::u16string subName = velk::platform::toUtf16("Sub folder " + std::to_string(sub));
                made->CreateFolderW((u"\\" + topName).c_str(), subName.c_str());
                std::u16string path = u"\\" + topName + u"\\" + subName;
                for (int file = 0; file < 9; ++file) {
                    velk::platform::setFileName(record, velk::platform::toUtf16("picture_" + std::to_string(file) + ".jpg"));
                    record.sizeLow = 3000u + static_cast<std::uint32_t>(file) * 1000u;
                    made->AddVirtualFileW(path.c_str(), record, zeros, nullptr);
                }
            }
            for (int file = 0; file < 9; ++file) {
                velk::platform::setFileName(record, velk::platform::toUtf16("cover_" + std::to_string(file) + ".jpg"));
                record.sizeLow = 5000;
                made->AddVirtualFileW((u"\\" + topName).c_str(), record, zeros, nullptr);
            }
        }
        return made;
    }();
    return *engine;
}

void BM_PrepareImage(benchmark::State& state) {
    velk::BurnEngine& engine = bigProject();
    for (auto _ : state) {
        benchmark::DoNotOptimize(engine.PrepareImage());
    }
    state.counters["items"] = engine.GetFileCount();
    state.counters["folders"] = engine.GetDirectoryCount();
    state.counters["blocks"] = engine.GetImageBlocks();
}
BENCHMARK(BM_PrepareImage)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

BENCHMARK_MAIN();
