// Times AddDirectory over a source tree: adds TREE recursively to a fresh
// project RUNS times and prints the median wall time in seconds and the
// number of items added.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "engine/api/BurnEngine.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: add_tree TREE [RUNS]\n");
        return 2;
    }
    int runs = argc > 2 ? std::atoi(argv[2]) : 3;
    std::vector<double> seconds;
    int items = 0;
    for (int run = 0; run < runs; ++run) {
        velk::BurnEngine engine;
        auto start = std::chrono::steady_clock::now();
        if (!engine.AddDirectory("\\", argv[1], "*.*", 1, 0)) {
            std::fprintf(stderr, "add_tree: %s\n", engine.GetLastErrorText());
            return 1;
        }
        seconds.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        items = engine.GetFileCount();
    }
    std::sort(seconds.begin(), seconds.end());
    std::printf("%.3f %d\n", seconds[seconds.size() / 2], items);
    return 0;
}
