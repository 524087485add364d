// A save block can name a network line. It is reached only when it is the
// user's own choice of port, so that a block from someone else never makes
// the plug-in connect anywhere; a COM port named by a block opens as before.
#include <array>
#include <cstring>

#include "tests/unit/SerialEngineTest.h"

namespace {
using Block = std::array<std::uint8_t, kSnapshotSize>;

// The scripted port, with names starting "tcp:" taken as network lines.
class PortsWithNetwork final : public SerialPorts {
public:
    explicit PortsWithNetwork(FakeSerialPorts& ports) : ports_(ports) {}
    bool reachesNetwork(const char* name) override { return std::strncmp(name, "tcp:", 4) == 0; }
    PortHandle open(const char* path) override { return ports_.open(path); }
    bool close(PortHandle p) override { return ports_.close(p); }
    bool getState(PortHandle p, CommState& s) override { return ports_.getState(p, s); }
    bool setState(PortHandle p, const CommState& s) override { return ports_.setState(p, s); }
    bool setTimeouts(PortHandle p, const CommTimeouts& t) override { return ports_.setTimeouts(p, t); }
    bool setEventMask(PortHandle p, std::uint32_t m) override { return ports_.setEventMask(p, m); }
    bool purge(PortHandle p, std::uint32_t f) override { return ports_.purge(p, f); }
    bool escape(PortHandle p, EscapeCode c) override { return ports_.escape(p, c); }
    bool getModemStatus(PortHandle p, std::uint32_t& l) override { return ports_.getModemStatus(p, l); }
    bool clearErrors(PortHandle p, std::uint32_t& e, std::uint32_t& q) override { return ports_.clearErrors(p, e, q); }
    bool readByte(PortHandle p, std::uint8_t& b, std::uint32_t& n) override { return ports_.readByte(p, b, n); }
    bool writeByte(PortHandle p, std::uint8_t b) override { return ports_.writeByte(p, b); }

private:
    FakeSerialPorts& ports_;
};

class NetworkRestore : public EngineTest {
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        device.platform.serial = &network;
    }

    // A block saved by a session whose user had chosen `portName`.
    Block savedWith(const char* portName)
    {
        programmed(0x37, makeSettings(portName));
        Block block{};
        device.saveSnapshot(block.data());
        return block;
    }

    std::vector<std::string> openedPaths() const
    {
        std::vector<std::string> paths;
        for (const PortCall& call : port.callsOf(PortOp::Open)) paths.push_back(call.path);
        return paths;
    }

    PortsWithNetwork network{port};
};
}  // namespace

TEST_F(NetworkRestore, ANetworkLineFromSomeoneElsesBlockIsNeverReached)
{
    const Block block = savedWith("tcp:198.51.100.7:23");
    // This user's own port is COM1, from the settings file.
    device.closePort();
    loadSettings(makeSettings("COM1"));
    port.clearCalls();
    alert.clear();

    EXPECT_EQ(device.loadSnapshot(block.data()), 1);

    EXPECT_TRUE(openedPaths().empty());
    EXPECT_FALSE(device.portOpen());
    ASSERT_FALSE(alert.shown().empty());
    EXPECT_EQ(alert.shown().front(), openFailureText("tcp:198.51.100.7:23"));

    // The guest's next mode byte opens the user's own port.
    device.writeModeCommand(0x40);
    device.writeModeCommand(0x4E);
    EXPECT_EQ(openedPaths(), std::vector<std::string>{"//./COM1"});
}

TEST_F(NetworkRestore, TheUsersOwnNetworkLineIsReachedAgain)
{
    const Block block = savedWith("tcp:127.0.0.1:2323");
    device.closePort();
    port.clearCalls();
    alert.clear();

    EXPECT_EQ(device.loadSnapshot(block.data()), 1);

    EXPECT_EQ(openedPaths(), std::vector<std::string>{"//./tcp:127.0.0.1:2323"});
    EXPECT_TRUE(device.portOpen());
    EXPECT_TRUE(alert.shown().empty());
}

TEST_F(NetworkRestore, ALineTheUserHasSinceLeftIsClosedNotKept)
{
    const Block block = savedWith("tcp:127.0.0.1:2323");
    ASSERT_TRUE(device.portOpen());
    // The dialog's OK: COM2 from now on; the line stays open until the next mode byte.
    device.storeSettings(makeSettings("COM2"), false);
    port.clearCalls();

    EXPECT_EQ(device.loadSnapshot(block.data()), 1);

    EXPECT_FALSE(device.portOpen());
    EXPECT_TRUE(openedPaths().empty());
    EXPECT_EQ(port.callsOf(PortOp::Close).size(), 1u);
}

TEST_F(NetworkRestore, AComPortFromAnyBlockOpensAsBefore)
{
    const Block block = savedWith("COM3");
    device.closePort();
    loadSettings(makeSettings("COM1"));
    port.clearCalls();

    EXPECT_EQ(device.loadSnapshot(block.data()), 1);

    EXPECT_EQ(openedPaths(), std::vector<std::string>{"//./COM3"});
    EXPECT_TRUE(device.portOpen());
}
