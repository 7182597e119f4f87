// Many devices in one host process.
//
// Modbus TCP: 1, 16, 64 and 256 sample master drivers, each on its own
// thread, each polling its own connection (10 holding registers) for a
// fixed time. The devices are served by libmodbus in a child process forked
// before anything else starts, so that this process holds only the masters
// and its CPU time, memory, threads and descriptors are theirs. The server
// is one thread: on a small machine it is what bounds the total reads per
// second, while the masters' own cost shows in the CPU per read.
// With a quarter of 256 devices faulty (half of them silent: connected,
// never answering; half refusing connections) the healthy drivers' reads
// per second are set against what the same drivers read with all healthy.
//
// ARCNET: one port on the virtual segment with 1, 10, 100 and 250 poll
// items, one simulated register station per item: passes per second, the
// process's CPU per item sent, and how many items hold an answer (the
// port queues at most 100 received packets between two passes).
//
// Every case runs once (one iteration, a fixed time) and reports its
// figures as counters; the time column is the measuring window. Run it
// pinned (taskset -c 1) on a quiet machine.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <modbus/modbus.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "ArcnetRegisterStation.h"
#include "ModbusBench.h"
#include "RegisterPackets.h"
#include "kelvara/Kelvara.h"

// The sample Modbus TCP master's factory, linked into this program.
extern "C" CProtocol* KelvaraCreateDriver();

namespace {

using Clock = std::chrono::steady_clock;
using modbusbench::kCount;
using modbusbench::kFirstValue;

constexpr auto kWindow = std::chrono::seconds(2);
// Bounds the wait for all drivers' first good read.
constexpr auto kStartLimit = std::chrono::seconds(20);
constexpr int kTimeoutMs = 200;

// ---- What the process holds ------------------------------------------------

struct Footprint {
    long rssKb = 0;
    long threads = 0;
    long fds = 0;
};

Footprint TakeFootprint() {
    Footprint f;
    std::ifstream status("/proc/self/status");
    std::string key;
    long value = 0;
    while (status >> key) {
        if (key == "VmRSS:" && status >> value) {
            f.rssKb = value;
        } else if (key == "Threads:" && status >> value) {
            f.threads = value;
        }
    }
    std::error_code ec;
    for (auto it = std::filesystem::directory_iterator("/proc/self/fd", ec);
         !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
        ++f.fds;
    }
    return f;
}

double ProcessCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

// ---- The devices, in a child process ---------------------------------------

int ListenOn(int nBacklog, int* pPort) {
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    const int one = 1;
    setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (s < 0 || bind(s, reinterpret_cast<sockaddr*>(&addr), len) != 0 ||
        (nBacklog > 0 && listen(s, nBacklog) != 0) ||
        getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        return -1;
    }
    *pPort = ntohs(addr.sin_port);
    return s;
}

// Serves every connection to the healthy port from one thread; the silent
// port's connections wait in its queue unaccepted, so they connect and are
// never answered; the refusing port was bound and closed again. Ends when
// the parent closes the pipe (or dies).
[[noreturn]] void ServeDevices(int fdControl, int fdReply) {
    int ports[3] = {0, 0, 0};
    const int healthy = ListenOn(1024, &ports[0]);
    const int silent = ListenOn(1024, &ports[1]);
    const int refusing = ListenOn(0, &ports[2]);
    close(refusing);
    modbus_t* ctx = modbus_new_tcp("127.0.0.1", 0);
    modbus_mapping_t* mapping = modbus_mapping_new(0, 0, 100, 0);
    if (healthy < 0 || silent < 0 || ctx == nullptr || mapping == nullptr) {
        ports[0] = 0;
    }
    for (int i = 0; mapping != nullptr && i < kCount; ++i) {
        mapping->tab_registers[i] = static_cast<std::uint16_t>(kFirstValue + i);
    }
    (void)!write(fdReply, ports, sizeof ports);
    close(fdReply);
    fcntl(healthy, F_SETFL, O_NONBLOCK);
    std::vector<pollfd> fds{{fdControl, POLLIN, 0}, {healthy, POLLIN, 0}};
    std::uint8_t query[MODBUS_TCP_MAX_ADU_LENGTH];
    for (;;) {
        if (poll(fds.data(), fds.size(), 1000) < 0) {
            continue;
        }
        if (fds[0].revents != 0) {
            _exit(0);
        }
        if (fds[1].revents != 0) {
            for (int c; (c = accept(healthy, nullptr, nullptr)) >= 0;) {
                fds.push_back({c, POLLIN, 0});
            }
        }
        for (std::size_t i = 2; i < fds.size(); ++i) {
            if (fds[i].revents == 0) {
                continue;
            }
            modbus_set_socket(ctx, fds[i].fd);
            const int n = modbus_receive(ctx, query);
            if (n > 0) {
                modbus_reply(ctx, query, n, mapping);
            } else if (n < 0) {
                close(fds[i].fd);
                fds[i].fd = -1;  // poll skips it
            }
        }
        std::erase_if(fds, [](const pollfd& p) { return p.fd < 0; });
    }
}

struct Devices {
    pid_t pid = -1;
    int fdControl = -1;
    int healthyPort = 0;
    int silentPort = 0;
    int refusingPort = 0;

    // Forks the server while this process has only its main thread.
    void Start() {
        int control[2];
        int reply[2];
        if (pipe(control) != 0 || pipe(reply) != 0) {
            return;
        }
        pid = fork();
        if (pid == 0) {
            close(control[1]);
            close(reply[0]);
            ServeDevices(control[0], reply[1]);
        }
        close(control[0]);
        close(reply[1]);
        fdControl = control[1];
        int ports[3] = {0, 0, 0};
        if (pid > 0 && read(reply[0], ports, sizeof ports) == sizeof ports) {
            healthyPort = ports[0];
            silentPort = ports[1];
            refusingPort = ports[2];
        }
        close(reply[0]);
    }
    void Stop() {
        if (fdControl >= 0) {
            close(fdControl);
            fdControl = -1;
        }
        if (pid > 0) {
            waitpid(pid, nullptr, 0);
            pid = -1;
        }
    }
};

Devices g_devices;

// ---- Many Modbus TCP masters -----------------------------------------------

// One driver's thread and its counts; each on its own cache line.
struct alignas(64) Master {
    std::unique_ptr<CProtocol> driver;
    std::thread thread;
    std::atomic<std::uint64_t> good{0};
    std::atomic<std::uint64_t> bad{0};
    std::atomic<std::int64_t> maxBlockUs{0};
};

struct RunResult {
    bool ok = false;
    double startMs = 0;
    double stopMs = 0;
    double windowS = 0;
    double cpuS = 0;
    std::uint64_t reads = 0;
    std::vector<std::uint64_t> perDriver;  // good reads in the window
    double maxBlockMs = 0;
    Footprint before;
    Footprint during;
};

// Driver i is faulty when i % 4 == 3 and nFaulty allows: even ones of
// those silent, odd ones refused.
int PortFor(int i, bool bFaulty) {
    if (!bFaulty || i % 4 != 3) {
        return g_devices.healthyPort;
    }
    return (i / 4) % 2 == 0 ? g_devices.silentPort : g_devices.refusingPort;
}

RunResult RunMasters(int nDrivers, bool bFaulty, Clock::duration window = kWindow) {
    RunResult r;
    r.before = TakeFootprint();
    std::vector<Master> masters(static_cast<std::size_t>(nDrivers));
    std::atomic<bool> bStop{false};
    const auto t0 = Clock::now();
    for (int i = 0; i < nDrivers; ++i) {
        Master& m = masters[static_cast<std::size_t>(i)];
        m.driver.reset(KelvaraCreateDriver());
        m.driver->AddIPAddress("127.0.0.1", nullptr);
        const bool bSet =
            modbusbench::Configure(*m.driver, "TCPIP.PortNumber=",
                                   "TCPIP.PortNumber=" + std::to_string(PortFor(i, bFaulty))) &&
            modbusbench::Configure(
                *m.driver, "Timing.Timeout=", "Timing.Timeout=" + std::to_string(kTimeoutMs)) &&
            modbusbench::Configure(*m.driver, "Timing.RetryCount=", "Timing.RetryCount=0");
        if (!bSet) {
            return r;
        }
        m.thread = std::thread([&m, &bStop] {
            if (m.driver->StartProtocol() != SE_NO_ERROR) {
                return;
            }
            CRemoteAddress first("HR:0", m.driver->GetEDFFormatRemote()->m_strFormat, "");
            CComBlock block(&first, 2, 1, kCount, 2);
            // Ends at the stop flag; every block ends at its time-out.
            while (!bStop.load(std::memory_order_relaxed)) {
                const auto start = Clock::now();
                const bool bGood = m.driver->TransferData(&block) == SE_NO_ERROR;
                const auto us =
                    std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start)
                        .count();
                if (us > m.maxBlockUs.load(std::memory_order_relaxed)) {
                    m.maxBlockUs.store(us, std::memory_order_relaxed);
                }
                (bGood ? m.good : m.bad).fetch_add(1, std::memory_order_relaxed);
            }
            m.driver->StopProtocol();
        });
    }
    // Started: every healthy driver has read once.
    const auto startLimit = Clock::now() + kStartLimit;
    for (int i = 0; i < nDrivers; ++i) {
        const Master& m = masters[static_cast<std::size_t>(i)];
        while (PortFor(i, bFaulty) == g_devices.healthyPort && m.good.load() == 0 &&
               Clock::now() < startLimit) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    const auto tStarted = Clock::now();
    r.startMs = Ms(tStarted - t0);

    std::vector<std::uint64_t> first(masters.size());
    for (std::size_t i = 0; i < masters.size(); ++i) {
        first[i] = masters[i].good.load();
    }
    const double cpu0 = ProcessCpuSeconds();
    const auto w0 = Clock::now();
    std::this_thread::sleep_for(window / 2);
    r.during = TakeFootprint();
    std::this_thread::sleep_for(window / 2);
    const auto w1 = Clock::now();
    const double cpu1 = ProcessCpuSeconds();
    r.perDriver.resize(masters.size());
    for (std::size_t i = 0; i < masters.size(); ++i) {
        r.perDriver[i] = masters[i].good.load() - first[i];
        r.reads += r.perDriver[i];
        r.maxBlockMs = std::max(r.maxBlockMs, masters[i].maxBlockUs.load() / 1000.0);
    }
    r.windowS = std::chrono::duration<double>(w1 - w0).count();
    r.cpuS = cpu1 - cpu0;

    const auto s0 = Clock::now();
    bStop = true;
    for (Master& m : masters) {
        m.thread.join();
        m.driver.reset();
    }
    r.stopMs = Ms(Clock::now() - s0);
    r.ok = tStarted < startLimit;
    return r;
}

void Report(benchmark::State& state, const RunResult& r, int nDrivers) {
    state.SetIterationTime(r.windowS);
    state.counters["reads_per_s"] = static_cast<double>(r.reads) / r.windowS;
    state.counters["cpu_us_per_read"] =
        r.reads > 0 ? r.cpuS * 1e6 / static_cast<double>(r.reads) : 0;
    state.counters["rss_kB_per_driver"] =
        static_cast<double>(r.during.rssKb - r.before.rssKb) / nDrivers;
    state.counters["threads_per_driver"] =
        static_cast<double>(r.during.threads - r.before.threads) / nDrivers;
    state.counters["fds_per_driver"] = static_cast<double>(r.during.fds - r.before.fds) / nDrivers;
    state.counters["start_ms"] = r.startMs;
    state.counters["stop_ms"] = r.stopMs;
    state.counters["max_block_ms"] = r.maxBlockMs;
}

void BM_ModbusTcpMasters(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    if (g_devices.healthyPort == 0) {
        state.SkipWithError("no devices");
        return;
    }
    for (auto _ : state) {
        const RunResult r = RunMasters(n, false);
        if (!r.ok) {
            state.SkipWithError("drivers did not all start");
            return;
        }
        Report(state, r, n);
    }
}
BENCHMARK(BM_ModbusTcpMasters)
    ->Arg(1)
    ->Arg(16)
    ->Arg(64)
    ->Arg(256)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// 256 drivers all healthy, then with a quarter faulty: healthy_share is
// what the 192 drivers with a healthy device read with the others faulty,
// over what the same drivers read with all healthy.
void BM_ModbusTcpMastersQuarterFaulty(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    if (g_devices.healthyPort == 0) {
        state.SkipWithError("no devices");
        return;
    }
    for (auto _ : state) {
        const RunResult all = RunMasters(n, false);
        const RunResult faulty = RunMasters(n, true);
        if (!all.ok || !faulty.ok) {
            state.SkipWithError("drivers did not all start");
            return;
        }
        double allRate = 0;
        double faultyRate = 0;
        for (int i = 0; i < n; ++i) {
            if (PortFor(i, true) == g_devices.healthyPort) {
                allRate +=
                    static_cast<double>(all.perDriver[static_cast<std::size_t>(i)]) / all.windowS;
                faultyRate += static_cast<double>(faulty.perDriver[static_cast<std::size_t>(i)]) /
                              faulty.windowS;
            }
        }
        Report(state, faulty, n);
        state.counters["healthy_reads_per_s"] = faultyRate;
        state.counters["same_all_healthy_reads_per_s"] = allRate;
        state.counters["healthy_share"] = allRate > 0 ? faultyRate / allRate : 0;
    }
}
BENCHMARK(BM_ModbusTcpMastersQuarterFaulty)
    ->Arg(256)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// ---- One ARCNET port with many poll items ---------------------------------

using namespace arcnet_registers;

constexpr BYTE kFirstStation = 2;  // the card is node 1

// A network driver reduced to its poll list: every item reads 10 registers
// from its own station, and the poll thread's requests are counted.
class CPollingDriver : public CNetworkProtocol {
public:
    CPollingDriver() : CNetworkProtocol("", "[NVD(Node) 1 to 255]") { SetTimeoutDefaults(500); }
    ~CPollingDriver() override { Stop(); }

    bool Start(int nItems) {
        if (CNetworkProtocol::StartProtocol() != SE_NO_ERROR) {
            return false;
        }
        m_pPort = std::make_unique<CNetPort>(&m_PollProperties, &m_TimeoutProperties,
                                             GetCommsStats(), 0, this);
        if (m_pPort->Open() != SE_NO_ERROR) {
            return false;
        }
        CNetPort::CListLock lock(m_pPort->GetPollListMutex());
        for (int i = 0; i < nItems; ++i) {
            m_PollProperties.m_PollList.Add(
                new CPollListItem(static_cast<DWORD>(i + 1), static_cast<BYTE>(kFirstStation + i)));
        }
        return lock.IsLocked() != 0;
    }
    void Stop() {
        if (m_pPort != nullptr) {
            m_pPort->Close();
            m_pPort.reset();
            m_PollProperties.RemoveAllItems();
            CNetworkProtocol::StopProtocol();
        }
    }
    std::uint64_t Requests() const { return m_requests.load(std::memory_order_relaxed); }
    // Items holding an answer.
    int Answered() {
        CNetPort::CListLock lock(m_pPort->GetPollListMutex());
        int n = 0;
        for (int i = 0; i < m_PollProperties.m_PollList.GetSize(); ++i) {
            n += m_PollProperties.m_PollList[i]->m_bDataValid != 0 ? 1 : 0;
        }
        return n;
    }

    DWORD GetBlockIdFromPacket(const CCombuf* pPacket) override {
        return pPacket->GetSize() < kAnswerHeaderSize ? 0 : LoadLE(*pPacket, kOffsetItemId, 4);
    }
    DWORD GetDataOffsetInPacket() override { return kOffsetTransaction; }
    DWORD FormatTxMessage(CCombuf* pPacket, CPollListItem* pItem, BYTE) override {
        pPacket->SetSize(0);
        AppendLE(*pPacket, pItem->m_dwBlockId, 4);
        AppendLE(*pPacket, ++m_wTransaction, 2);
        AppendLE(*pPacket, FN_READ, 1);
        AppendLE(*pPacket, pItem->m_byNode, 1);
        AppendLE(*pPacket, AREA_R, 1);
        AppendLE(*pPacket, 0, 2);
        AppendLE(*pPacket, static_cast<DWORD>(kCount), 1);
        m_requests.fetch_add(1, std::memory_order_relaxed);
        return 0;
    }

private:
    CPollProperties m_PollProperties;
    std::unique_ptr<CNetPort> m_pPort;
    WORD m_wTransaction = 0;  // poll thread only
    std::atomic<std::uint64_t> m_requests{0};
};

void BM_ArcnetPollItems(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    CVirtualArcnetSegment segment;
    segment.Install();
    std::vector<std::unique_ptr<CArcnetRegisterStation>> stations;
    for (int i = 0; i < n; ++i) {
        stations.push_back(std::make_unique<CArcnetRegisterStation>(
            &segment, static_cast<BYTE>(kFirstStation + i)));
    }
    for (auto _ : state) {
        CPollingDriver driver;
        if (!driver.Start(n)) {
            state.SkipWithError("port not started");
            break;
        }
        const auto limit = Clock::now() + kStartLimit;
        while (driver.Answered() < n && Clock::now() < limit) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        const std::uint64_t r0 = driver.Requests();
        const double cpu0 = ProcessCpuSeconds();
        const auto w0 = Clock::now();
        std::this_thread::sleep_for(kWindow);
        const double windowS = std::chrono::duration<double>(Clock::now() - w0).count();
        const double cpuS = ProcessCpuSeconds() - cpu0;
        const double items = static_cast<double>(driver.Requests() - r0);
        state.SetIterationTime(windowS);
        state.counters["passes_per_s"] = items / n / windowS;
        state.counters["cpu_us_per_item"] = items > 0 ? cpuS * 1e6 / items : 0;
        state.counters["answered"] = driver.Answered();
        driver.Stop();
    }
    stations.clear();
    segment.Uninstall();
}
BENCHMARK(BM_ArcnetPollItems)
    ->Arg(1)
    ->Arg(10)
    ->Arg(100)
    ->Arg(250)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    // 256 connections and their drivers' descriptors need more than the
    // usual soft limit of 1024 on some hosts: take what the hard limit allows.
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = std::min<rlim_t>(limit.rlim_max, 65536);
        setrlimit(RLIMIT_NOFILE, &limit);
    }
    signal(SIGPIPE, SIG_IGN);
    g_devices.Start();
    benchmark::Initialize(&argc, argv);
    // A few drivers once first, so that the library's one-time set-up is
    // not counted as the first case's memory per driver.
    if (g_devices.healthyPort != 0) {
        (void)RunMasters(4, false, std::chrono::milliseconds(100));
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    g_devices.Stop();
    return 0;
}
