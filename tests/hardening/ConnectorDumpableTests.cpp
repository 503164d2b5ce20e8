// The companion makes itself non-dumpable to keep the storage key out of core dumps; the connector it
// starts is another program and must keep its own core dumps.

#include "CompanionCore/supervisor/HelperSupervisor.hpp"
#include "Platform/PosixProcessLauncher.hpp"
#include "support/InMemorySecretStore.hpp"
#include "support/ManualLoop.hpp"

#include <gtest/gtest.h>

#include <sys/prctl.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace kavrel {
namespace {

TEST(ConnectorDumpableTest, TheConnectorOfANonDumpableCompanionStaysDumpable) {
    char pattern[] = "/tmp/kavrel-dumpable-XXXXXX";
    const std::filesystem::path directory = ::mkdtemp(pattern);
    std::ofstream(directory / "connector-sim.json") << R"({"reportDumpable":true})";
    ASSERT_EQ(::prctl(PR_SET_DUMPABLE, 0), 0);
    {
        ManualLoop loop;
        PosixProcessLauncher launcher(loop);
        InMemorySecretStore secrets;
        auto supervisor = HelperSupervisor::create({loop, launcher, secrets}, KAVREL_CONNECTOR_SIM_PATH,
                                                   directory, [] { return std::string(64, 'd'); });
        supervisor->launch();
        const bool reported =
            loop.runUntil([&] { return supervisor->status().value().contains("dumpable"); });
        EXPECT_EQ(::prctl(PR_GET_DUMPABLE), 0);
        ::prctl(PR_SET_DUMPABLE, 1);
        ASSERT_TRUE(reported) << supervisor->message().value();
        EXPECT_EQ(supervisor->status().value().at("dumpable"), JSONValue(true));
        supervisor->shutdown();
    }
    std::filesystem::remove_all(directory);
}

} // namespace
} // namespace kavrel
