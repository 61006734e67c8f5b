// The command line of the tavrix executable.

#include "app/CommandLine.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <vector>

namespace {

CCommandLine Parse(std::initializer_list<const char*> args) {
    std::vector<const char*> argv{"tavrix"};
    argv.insert(argv.end(), args.begin(), args.end());
    return CCommandLine::Parse(static_cast<int>(argv.size()), argv.data());
}

using C = CCommandLine::Command;

TEST(CommandLineTest, HeadlessTakesDocumentsAndItsOptionsInAnyOrder) {
    CCommandLine line =
        Parse({"--headless", "a.tvrx", "--activate", "b.tvrx", "--duration", "2.5", "--stats"});
    EXPECT_EQ(line.command, C::Headless);
    EXPECT_EQ(line.documents, (std::vector<std::string>{"a.tvrx", "b.tvrx"}));
    EXPECT_TRUE(line.activate);
    EXPECT_TRUE(line.stats);
    EXPECT_DOUBLE_EQ(line.durationSeconds, 2.5);

    line = Parse({"--headless", "--", "--odd-name.tvrx"});
    EXPECT_EQ(line.command, C::Headless);
    EXPECT_EQ(line.documents, std::vector<std::string>{"--odd-name.tvrx"});
    EXPECT_FALSE(line.activate);
    EXPECT_LT(line.durationSeconds, 0) << "runs until a signal";
}

TEST(CommandLineTest, DocCommandsTakeTheirArguments) {
    CCommandLine line = Parse({"doc", "create", "x.tvrx", "--camera", "test:ball", "--record-path", "rec",
                               "--camera", "v4l2:/dev/video0"});
    EXPECT_EQ(line.command, C::DocCreate);
    EXPECT_EQ(line.file, "x.tvrx");
    EXPECT_EQ(line.cameras, (std::vector<std::string>{"test:ball", "v4l2:/dev/video0"}));
    EXPECT_EQ(line.recordPath, "rec");

    line = Parse({"doc", "show", "x.tvrx"});
    EXPECT_EQ(line.command, C::DocShow);
    EXPECT_EQ(line.file, "x.tvrx");

    line = Parse({"doc", "set", "x.tvrx", "Cameras.0.FPS", "-5"});
    EXPECT_EQ(line.command, C::DocSet);
    EXPECT_EQ(line.key, "Cameras.0.FPS");
    EXPECT_EQ(line.value, "-5") << "a value may look like an option";

    EXPECT_EQ(Parse({"--version"}).command, C::Version);
    EXPECT_EQ(Parse({"-v"}).command, C::Version);
    EXPECT_EQ(Parse({"--help"}).command, C::Help);
    EXPECT_EQ(Parse({"-h"}).command, C::Help);
    EXPECT_EQ(Parse({"--help", "doc"}).command, C::Usage) << "help takes no arguments";
    EXPECT_EQ(Parse({"devices"}).command, C::Devices);
    EXPECT_EQ(Parse({"sysinfo"}).command, C::SysInfo);
}

TEST(CommandLineTest, DesktopApplicationWithItsDocumentsAndOptions) {
    CCommandLine line = Parse({});
    EXPECT_EQ(line.command, C::Gui);
    EXPECT_TRUE(line.documents.empty());
    line = Parse({"/home/me/Yard.tvrx"});
    EXPECT_EQ(line.command, C::Gui);
    EXPECT_EQ(line.documents, std::vector<std::string>{"/home/me/Yard.tvrx"});
    EXPECT_FALSE(line.activate);
    line = Parse({"--activate", "--screenshot", "out.png", "--screenshot-delay", "3", "Yard.tvrx"});
    EXPECT_EQ(line.command, C::Gui);
    EXPECT_TRUE(line.activate);
    EXPECT_EQ(line.screenshotPath, "out.png");
    EXPECT_DOUBLE_EQ(line.screenshotDelaySeconds, 3.0);
    EXPECT_EQ(line.documents, std::vector<std::string>{"Yard.tvrx"});
}

TEST(CommandLineTest, WrongCommandLinesGiveUsageWithTheReason) {
    const std::vector<std::pair<std::vector<const char*>, const char*>> cases = {
        {{"--headless"}, "at least one document"},
        {{"--headless", "a.tvrx", "--duration"}, "--duration"},
        {{"--headless", "a.tvrx", "--duration", "0"}, "--duration"},
        {{"--headless", "a.tvrx", "--duration", "-3"}, "--duration"},
        {{"--headless", "a.tvrx", "--duration", "5x"}, "--duration"},
        {{"--headless", "a.tvrx", "--duration", "nan"}, "--duration"},
        {{"--headless", "a.tvrx", "--frobnicate"}, "unknown option"},
        {{"doc"}, "create, show, set, export, import or schema"},
        {{"doc", "remove", "x"}, "unknown doc command"},
        {{"doc", "create"}, "needs a file"},
        {{"doc", "create", "x", "y"}, "one file"},
        {{"doc", "create", "x", "--camera"}, "needs a value"},
        {{"doc", "create", "x", "--record-path", "a", "--record-path", "b"}, "twice"},
        {{"doc", "create", "x", "--verbose"}, "unknown option"},
        {{"doc", "show"}, "one file"},
        {{"doc", "show", "a", "b"}, "one file"},
        {{"doc", "set", "x", "key"}, "a file, a key and a value"},
        {{"frobnicate"}, "unknown command"},
        {{"devices", "extra"}, "takes no arguments"},
        {{"--screenshot"}, "--screenshot needs"},
        {{"a.tvrx", "--screenshot-delay", "0"}, "--screenshot-delay"},
        {{"a.tvrx", "--frobnicate"}, "unknown option"},
    };
    for (const auto& [args, reason] : cases) {
        std::vector<const char*> argv{"tavrix"};
        argv.insert(argv.end(), args.begin(), args.end());
        const CCommandLine line = CCommandLine::Parse(static_cast<int>(argv.size()), argv.data());
        EXPECT_EQ(line.command, C::Usage) << args[0];
        EXPECT_NE(line.error.find(reason), std::string::npos) << line.error;
    }
    EXPECT_NE(std::string(CCommandLine::UsageText()).find("tavrix doc set FILE KEY VALUE"),
              std::string::npos);
}

} // namespace

namespace {

TEST(CommandLineTest, TheMqttBrokerOfHeadlessRunsAndTheFleetCommandsTakeTheirOptions) {
    CCommandLine line = Parse({"--headless", "--mqtt", "broker.lan:1884", "a.tvrx"});
    EXPECT_EQ(line.command, C::Headless);
    EXPECT_EQ(line.mqtt, "broker.lan:1884");
    EXPECT_EQ(line.documents, std::vector<std::string>{"a.tvrx"});
    EXPECT_EQ(Parse({"--headless", "a.tvrx", "--mqtt"}).command, C::Usage);

    line = Parse({"fleet", "status", "--mqtt", "127.0.0.1", "--prefix", "site", "--timeout", "3"});
    EXPECT_EQ(line.command, C::FleetStatus);
    EXPECT_EQ(line.mqtt, "127.0.0.1");
    EXPECT_EQ(line.fleetPrefix, "site");
    EXPECT_DOUBLE_EQ(line.fleetTimeoutSeconds, 3);
    line = Parse({"fleet", "watch", "--count", "5"});
    EXPECT_EQ(line.command, C::FleetWatch);
    EXPECT_EQ(line.fleetCount, 5);
    EXPECT_TRUE(line.mqtt.empty());
    for (const auto& wrong : {std::vector<const char*>{"fleet"},
                              {"fleet", "list"},
                              {"fleet", "watch", "--count", "0"},
                              {"fleet", "status", "--mqtt"},
                              {"fleet", "status", "--bogus", "1"},
                              {"fleet", "status", "extra"}}) {
        std::vector<const char*> argv{"tavrix"};
        argv.insert(argv.end(), wrong.begin(), wrong.end());
        const CCommandLine parsed = CCommandLine::Parse(static_cast<int>(argv.size()), argv.data());
        EXPECT_EQ(parsed.command, C::Usage) << wrong.size();
        EXPECT_FALSE(parsed.error.empty());
    }
    EXPECT_NE(std::string(CCommandLine::UsageText()).find("tavrix fleet status"), std::string::npos);
}

TEST(CommandLineWebTest, HeadlessServesTheWebInterfaceOnlyWhenAskedAndUserCommandsTakeTheirArguments) {
    CCommandLine line = Parse({"--headless", "--http", "127.0.0.1:8080", "a.tvrx"});
    EXPECT_EQ(line.command, C::Headless);
    EXPECT_EQ(line.httpListen, "127.0.0.1:8080");
    EXPECT_EQ(line.documents, std::vector<std::string>{"a.tvrx"});
    EXPECT_TRUE(Parse({"--headless", "a.tvrx"}).httpListen.empty()) << "off unless asked for";
    EXPECT_EQ(Parse({"--headless", "--http", "8080", "a.tvrx"}).httpListen, "8080");
    for (const char* bad : {"host:80", "70000", "a.tvrx"}) {
        EXPECT_EQ(Parse({"--headless", "--http", bad, "b.tvrx"}).command, C::Usage) << bad;
    }
    EXPECT_EQ(Parse({"--headless", "a.tvrx", "--http"}).command, C::Usage);

    line = Parse({"user", "add", "alice", "--admin"});
    EXPECT_EQ(line.command, C::UserAdd);
    EXPECT_EQ(line.userName, "alice");
    EXPECT_TRUE(line.userAdmin);
    EXPECT_FALSE(Parse({"user", "add", "bob"}).userAdmin);
    EXPECT_EQ(Parse({"user", "remove", "bob"}).command, C::UserRemove);
    EXPECT_EQ(Parse({"user", "list"}).command, C::UserList);
    EXPECT_EQ(Parse({"user", "token", "bob"}).command, C::UserToken);
    for (std::initializer_list<const char*> bad : {std::initializer_list<const char*>{"user"},
                                                   {"user", "add"},
                                                   {"user", "add", "a", "b"},
                                                   {"user", "add", "a", "--root"},
                                                   {"user", "list", "x"},
                                                   {"user", "remove"},
                                                   {"user", "rename", "a"}}) {
        EXPECT_EQ(Parse(bad).command, C::Usage);
    }
}

} // namespace
