// One request/response round trip (8 bytes out, 8 back) over a
// pseudo-terminal pair, through CComPort::Write + Read, against the same
// exchange made with raw write/read system calls on the same terminal. A
// device thread on the master end answers each request.
#include <benchmark/benchmark.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cstdint>
#include <memory>
#include <thread>

#include "kelvara/Kelvara.h"

namespace {

constexpr WORD kPort = 41;
constexpr std::size_t kFrame = 8;

// Reads whole requests on the master end and sends each back reversed.
class Device {
public:
    Device() {
        char name[256] = {};
        if (openpty(&m_master, &m_slave, name, nullptr, nullptr) != 0 || pipe(m_wake) != 0) {
            return;
        }
        termios t{};
        tcgetattr(m_slave, &t);
        cfmakeraw(&t);
        tcsetattr(m_slave, TCSANOW, &t);
        m_strSlave = name;
        m_thread = std::thread([this] { Run(); });
    }
    ~Device() {
        if (m_thread.joinable()) {
            const char c = 0;
            [[maybe_unused]] const ssize_t n = write(m_wake[1], &c, 1);
            m_thread.join();
        }
        for (const int fd : {m_master, m_slave, m_wake[0], m_wake[1]}) {
            if (fd >= 0) {
                close(fd);
            }
        }
    }
    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;

    bool Ready() const { return !m_strSlave.empty(); }
    const std::string& SlavePath() const { return m_strSlave; }
    int Slave() const { return m_slave; }

private:
    void Run() {
        std::uint8_t request[kFrame];
        std::size_t nHave = 0;
        for (;;) {
            pollfd p[2] = {{m_master, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
            if (poll(p, 2, -1) < 0 || p[1].revents != 0) {
                return;
            }
            const ssize_t n = read(m_master, request + nHave, kFrame - nHave);
            if (n <= 0) {
                return;
            }
            nHave += static_cast<std::size_t>(n);
            if (nHave == kFrame) {
                std::uint8_t reply[kFrame];
                for (std::size_t i = 0; i < kFrame; ++i) {
                    reply[i] = request[kFrame - 1 - i];
                }
                if (write(m_master, reply, kFrame) != static_cast<ssize_t>(kFrame)) {
                    return;
                }
                nHave = 0;
            }
        }
    }

    int m_master = -1;
    int m_slave = -1;
    int m_wake[2] = {-1, -1};
    std::string m_strSlave;
    std::thread m_thread;
};

// One device for both benchmarks, so both exchange over the same terminal.
Device& TheDevice() {
    static Device device;
    return device;
}

void BM_RawExchange(benchmark::State& state) {
    Device& device = TheDevice();
    if (!device.Ready()) {
        state.SkipWithError("no pseudo-terminal");
        return;
    }
    const int fd = device.Slave();
    const std::uint8_t request[kFrame] = {1, 2, 3, 4, 5, 6, 7, 8};
    std::uint8_t reply[kFrame];
    for (auto _ : state) {
        if (write(fd, request, kFrame) != static_cast<ssize_t>(kFrame)) {
            state.SkipWithError("write failed");
            break;
        }
        std::size_t nHave = 0;
        while (nHave < kFrame) {
            const ssize_t n = read(fd, reply + nHave, kFrame - nHave);
            if (n <= 0) {
                state.SkipWithError("read failed");
                return;
            }
            nHave += static_cast<std::size_t>(n);
        }
        benchmark::DoNotOptimize(reply);
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_ComPortExchange(benchmark::State& state) {
    Device& device = TheDevice();
    if (!device.Ready()) {
        state.SkipWithError("no pseudo-terminal");
        return;
    }
    CComPort::MapDevice(kPort, device.SlavePath().c_str());
    CPortProperties port;
    port.m_wPortNumber = kPort;
    port.m_dwBaudRate = 115200;
    CFlowProperties flow;
    CTimingProperties timing;
    CCommsStats stats;
    CComPort com(&port, &flow, &timing, nullptr);
    if (com.Open() != 0 || com.Init() != 0) {
        state.SkipWithError("the port did not open");
        return;
    }
    CCombuf request;
    for (BYTE by = 1; by <= kFrame; ++by) {
        request += by;
    }
    CCombuf reply;
    for (auto _ : state) {
        if (com.Write(&request, &stats) != 0 || com.Read(&reply, kFrame, &stats) != 0) {
            state.SkipWithError("exchange failed");
            break;
        }
        benchmark::DoNotOptimize(reply.GetData());
    }
    com.Close();
    CComPort::MapDevice(kPort, nullptr);
    state.SetItemsProcessed(state.iterations());
}

}  // namespace

// Alternating the two, several times, evens out the machine's moods.
BENCHMARK(BM_RawExchange)->UseRealTime()->MinTime(1.0);
BENCHMARK(BM_ComPortExchange)->UseRealTime()->MinTime(1.0);
BENCHMARK(BM_RawExchange)->UseRealTime()->MinTime(1.0);
BENCHMARK(BM_ComPortExchange)->UseRealTime()->MinTime(1.0);
