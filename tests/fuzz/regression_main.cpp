// Native driver of a fuzz target: runs each input file given once through
// its entry point, with the limits of the fuzzing runs, so the regression
// inputs are checked by every ctest run without libFuzzer. A single
// allocation above the limit or an input running too long fails like a crash.
#include <signal.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <new>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

// The same as fuzz.sh gives libFuzzer (-malloc_limit_mb, -timeout).
constexpr std::size_t kMallocLimit = std::size_t{512} << 20;
constexpr unsigned kTimeoutSeconds = 10;

char g_current[1024];

void OnTimeout(int) {
    const char prefix[] = "timeout: input ran longer than the limit: ";
    (void)!write(2, prefix, sizeof prefix - 1);
    (void)!write(2, g_current, std::strlen(g_current));
    (void)!write(2, "\n", 1);
    std::abort();
}

}  // namespace

void* operator new(std::size_t size) {
    if (size > kMallocLimit) {
        std::fprintf(stderr, "out of memory: one allocation of %zu bytes is above the %zu MB limit\n", size,
                     kMallocLimit >> 20);
        std::abort();
    }
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s INPUT...\n", argv[0]);
        return 2;
    }
    signal(SIGALRM, OnTimeout);
    for (int i = 1; i < argc; ++i) {
        std::ifstream file(argv[i], std::ios::binary);
        if (!file) {
            std::fprintf(stderr, "%s: cannot read\n", argv[i]);
            return 2;
        }
        std::vector<std::uint8_t> input((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        std::snprintf(g_current, sizeof g_current, "%s", argv[i]);
        alarm(kTimeoutSeconds);
        LLVMFuzzerTestOneInput(input.data(), input.size());
        alarm(0);
        std::printf("%s: passed (%zu bytes)\n", argv[i], input.size());
    }
    return 0;
}
