// dsave into a path that cannot be created: told before the target hears
// anything but the carriage return, nothing made on disk.
#include <sys/stat.h>

#include "tests/faults/fault_rig.h"

namespace faults {
namespace {

TEST(HostFile, DsaveIntoAPathThatCannotBeCreatedIsRefusedBeforeTheExchange) {
    TempFolder folder;
    const std::string existingFolder = folder.file("folder");
    ASSERT_EQ(::mkdir(existingFolder.c_str(), 0755), 0);
    const std::string paths[] = {
        folder.file("missing/out.bin"),  // a folder that does not exist
        existingFolder,                  // a folder where the file should be
        "",
    };
    FaultRig rig;
    for (const std::string& path : paths) {
        rig.sim.settle();
        rig.console.state = AtPrompt;
        EXPECT_FALSE(dsave(rig.console, path.c_str(), Base, 4096, &rig.sim.port)) << path;
        EXPECT_EQ(rig.screen(), "cannot open file\n") << path;
        EXPECT_EQ(rig.sent(), (Bytes{CarriageReturn})) << path;
        EXPECT_EQ(rig.console.state, Typing);
    }
    EXPECT_FALSE(std::filesystem::exists(folder.file("missing")));
    EXPECT_TRUE(std::filesystem::is_directory(existingFolder));
    EXPECT_EQ(rig.sim.target.exchangesCompleted() + rig.sim.target.exchangesAborted(), 0);
}

}  // namespace
}  // namespace faults
