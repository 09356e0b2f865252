#include <gtest/gtest.h>

#include <algorithm>

#include "payload/embedded_payload.h"
#include "payload/payload_archive.h"
#include "scratch.h"

namespace {

// The installer built beside this test program (tests run in build/win32/tests).
const char kInstaller[] = "..\\app\\VantelPA-Setup.exe";

class DataImage {
public:
    explicit DataImage(const char* path) : module_(LoadLibraryExA(path, nullptr, LOAD_LIBRARY_AS_DATAFILE)) {}
    ~DataImage() {
        if (module_) FreeLibrary(module_);
    }
    HMODULE get() const { return module_; }

private:
    HMODULE module_;
};

}  // namespace

TEST(EmbeddedPayload, InstallerCarriesAnExtractableProduct) {
    EXPECT_EQ(EmbeddedPayload().data, nullptr);  // this program carries none

    DataImage installer(kInstaller);
    ASSERT_NE(installer.get(), nullptr);
    ByteSpan container = ContainerInModule(installer.get());
    ASSERT_GT(container.size, 16u);
    ByteSpan envelope = ContainerContents(container.data, container.size);
    ASSERT_EQ(envelope.size, container.size - 8);

    ScratchDir dir;
    PayloadArchive archive;
    Text target = dir / "product";
    TextList paths;
    EXPECT_EQ(archive.extractArchive(envelope, target, Text(), &paths), 1);
    EXPECT_NE(std::find(paths.begin(), paths.end(), target + "VantelPA.exe"), paths.end());
    EXPECT_GT(fileSizeOf(target + "VantelPA.exe"), 0);
}
