// The panel on the network road, in process: a recording server of the test's own answers every
// request, and the order of requests, the values drawn and the connection's life are checked.
#include <mutex>
#include <vector>

#include "net/VqTcpIpcUdp_0.h"
#include "render/panelframe.h"
#include "shell/KOVEXFuel.h"
#include "simlink/conversions.h"
#include "simlink/panelvariables.h"
#include "tests/net/net_test_support.h"
#include "tests/shell/shell_fixture.h"

namespace {

// Answers "offset,size,kind" with a value per offset and records every request and connection.
// Replies end with a zero byte, or fill a fixed buffer of padTo bytes padded with zero bytes.
class RecordingServer {
public:
    explicit RecordingServer(int connections, int answersBeforeClose = -1, std::size_t padTo = 0)
        : padTo_(padTo),
          server_([this, answersBeforeClose](int& fd) { Serve(fd, answersBeforeClose); }, 0, connections) {}

    std::string Port() const { return server_.Port(); }
    void Join() { server_.Join(); }
    std::vector<std::string> Requests() {
        std::lock_guard<std::mutex> lock(mutex_);
        return requests_;
    }
    int Connections() {
        std::lock_guard<std::mutex> lock(mutex_);
        return connections_;
    }

private:
    static std::string ValueFor(const std::string& request) {
        const std::string offset = request.substr(0, request.find(','));
        if (offset == "2328") return "1000.5";  // engine 1 fuel flow, pounds per hour
        if (offset == "2348") return "1";       // engine 1 combustion
        if (offset == "2234") return "16384";   // engine 1 oil pressure
        if (offset == "2944") return "1000";    // left main tank capacity
        if (offset == "2940") return "4194304"; // left main tank level, 50 %
        if (offset == "2968") return "800";     // right main tank capacity
        if (offset == "2964") return "8388608"; // right main tank level, 100 %
        return "0";
    }
    void Serve(int fd, int answersBeforeClose) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            ++connections_;
        }
        std::string request;
        for (int answered = 0; answersBeforeClose < 0 || answered < answersBeforeClose; ++answered) {
            // The panel may take seconds between its requests (textures, a GL set-up under Wine); each
            // session ends by its client closing, so only a failing run waits this out.
            if (!nettest::ReadRequest(fd, request, nettest::kPatientMs)) return;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                requests_.push_back(request);
            }
            std::string reply = ValueFor(request) + std::string(1, '\0');
            if (reply.size() < padTo_) reply.resize(padTo_, '\0');
            nettest::WriteAll(fd, reply);
        }
    }

    const std::size_t padTo_;
    std::mutex mutex_;
    std::vector<std::string> requests_;
    int connections_ = 0;
    nettest::LoopbackServer server_;
};

const std::vector<std::string> kStartup = {"2944,4,1", "2968,4,1", "2940,4,1", "2964,4,1"};
const std::vector<std::string> kFrame = {"2328,8,2", "2480,8,2", "2232,2,4", "2384,2,4", "2234,2,6",
                                         "2386,2,6", "2196,2,6", "2348,2,6", "612,2,4",  "13157,1,3"};

class NetworkRoadTest : public ShellTest {
protected:
    void UseServer(const std::string& port) {
        WriteSettings("[LAN]\r\nUSELAN=Y\r\nKOVEXSERVER=127.0.0.1\r\nKOVEXPORT=" + port + "\r\n");
    }
    void TearDown() override {
        ShellTest::TearDown();
        useLan = false;
        SelectPanelRoad();  // the network road and its client go
    }
};

}  // namespace

// Catches requests out of table order, a start-up read that is skipped, or values not reaching the needles.
TEST_F(NetworkRoadTest, StartupReadComesFirstThenTenRequestsPerFrame) {
    RecordingServer server(1);
    UseServer(server.Port());
    StartWindow(kTitleNetwork);
    ASSERT_TRUE(useLan);
    ASSERT_TRUE(testutil::PanelClient() && testutil::PanelClient()->Connected());
    EXPECT_EQ(RunIdleTurn(kTitleNetwork), TurnResult::Continue);
    EXPECT_EQ(RunIdleTurn(kTitleNetwork), TurnResult::Continue);
    EXPECT_EQ(panelValues.fuelFlowAngle1, FuelFlowAngle(FuelFlowKgPerHour(1000.5)));
    EXPECT_NEAR(panelValues.oilPressAngle1, 320.4326, 1e-3);
    ReleasePanelWindow();
    server.Join();
    std::vector<std::string> expected = kStartup;
    for (int frame = 0; frame < 2; ++frame) expected.insert(expected.end(), kFrame.begin(), kFrame.end());
    EXPECT_EQ(server.Requests(), expected);
    EXPECT_EQ(testutil::PanelClient(), nullptr) << "a connected client goes with its window";
}

// Catches a server's fixed zero-padded buffers ending the start-up read, or its padding read as the
// next variable's value.
TEST_F(NetworkRoadTest, FixedPaddedRepliesServeTheStartupReadAndTheFrames) {
    RecordingServer server(1, -1, 32);
    UseServer(server.Port());
    StartWindow(kTitleNetwork);
    ASSERT_TRUE(testutil::PanelClient() && testutil::PanelClient()->Connected());
    EXPECT_EQ(mainTankLeftContents, TankContents(1000, 4194304));
    EXPECT_EQ(mainTankRightContents, TankContents(800, 8388608));
    EXPECT_EQ(RunIdleTurn(kTitleNetwork), TurnResult::Continue);
    EXPECT_EQ(RunIdleTurn(kTitleNetwork), TurnResult::Continue);
    EXPECT_EQ(panelValues.fuelFlowAngle1, FuelFlowAngle(FuelFlowKgPerHour(1000.5)));
    EXPECT_NEAR(panelValues.oilPressAngle1, 320.4326, 1e-3);
    ReleasePanelWindow();
    server.Join();
    EXPECT_EQ(server.Requests().size(), kStartup.size() + 2 * kFrame.size());
}

// Catches a re-creation that reuses or leaks the old connection.
TEST_F(NetworkRoadTest, EveryRecreationConnectsAgainAndReadsTheTanks) {
    RecordingServer server(2);
    UseServer(server.Port());
    StartWindow(kTitleNetwork);
    positionMode = true;
    keyDown[39] = true;  // Right: one step, one re-creation
    RunIdleTurn(kTitleNetwork);
    ReleasePanelWindow();  // the second connection ends with its window, as when the panel ends
    server.Join();
    EXPECT_EQ(server.Connections(), 2);
    std::vector<std::string> expected = kStartup;
    expected.insert(expected.end(), kStartup.begin(), kStartup.end());
    expected.insert(expected.end(), kFrame.begin(), kFrame.end());
    EXPECT_EQ(server.Requests(), expected);
}

// Catches a silent start without a server, and a lost server shown as stopped engines.
TEST_F(NetworkRoadTest, ServerDownAtStartEndsWithInitializationFailed) {
    UseServer(nettest::ClosedPort());
    testing::internal::CaptureStderr();
    EXPECT_EQ(ProgramEntry(), kExitNoWindow);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Error: initialization failed.\n");
    EXPECT_EQ(mainWindow, nullptr);
}

TEST_F(NetworkRoadTest, UnreachableServerSetsTheNotConnectedTitle) {
    StartWindow(kTitleFsuipc);
    useLan = true;
    serverAddress = "127.0.0.1";
    serverPort = nettest::ClosedPort();
    SelectPanelRoad();
    EXPECT_EQ(InitScene(), 3);
    EXPECT_EQ(plat::GetWindowTitle(mainWindow), kTitleNotConnected);
}

TEST_F(NetworkRoadTest, ServerLostMidFrameEndsTheProgramWithItsMessage) {
    RecordingServer server(1, 6);  // the start-up read, then two requests of the first frame
    UseServer(server.Port());
    testing::internal::CaptureStderr();
    EXPECT_EQ(ProgramEntry(), 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "KOVEXFuel: No connection established\n");
}

TEST_F(NetworkRoadTest, UnusablePortEndsTheProgramWithItsMessage) {
    WriteSettings("[LAN]\r\nUSELAN=Y\r\nKOVEXSERVER=127.0.0.1\r\nKOVEXPORT=70000\r\n");
    testing::internal::CaptureStderr();
    EXPECT_EQ(ProgramEntry(), 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "KOVEXFuel: Invalid port: 70000\n");
}
