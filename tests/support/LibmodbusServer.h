// A Modbus server from libmodbus, run on a thread of the test process: a
// peer that no one here wrote, for tests and benchmarks of Modbus masters.
// Over TCP it listens on 127.0.0.1 on a port picked free at start and serves
// any number of connections; over RTU it answers one unit on a descriptor
// (a pseudo-terminal's master end). It answers from a register table that
// the test may read and change at any time.
//
//     testsupport::LibmodbusServer server;
//     ASSERT_TRUE(server.Start());
//     server.SetHoldingRegister(0, 1234);
//     ... connect a master to 127.0.0.1:server.Port() ...
//
// Link libmodbus (pkg-config libmodbus) into the program that includes it.
#pragma once

#include <modbus/modbus.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace testsupport {

class LibmodbusServer {
public:
    // Each table (coils, discrete inputs, holding and input registers) holds
    // nSize points from address 0; an address past the end is answered with
    // the exception "illegal data address".
    explicit LibmodbusServer(int nSize = 1000)
        : m_mapping(modbus_mapping_new(nSize, nSize, nSize, nSize)) {}
    ~LibmodbusServer() {
        Stop();
        modbus_mapping_free(m_mapping);
    }
    LibmodbusServer(const LibmodbusServer&) = delete;
    LibmodbusServer& operator=(const LibmodbusServer&) = delete;

    // Listens on the port (0: one picked free) and serves until Stop. False
    // when it cannot listen or already runs. Start again after Stop on the
    // same Port() to play a device that restarts.
    bool Start(int nPort = 0) {
        if (m_thread.joinable() || (m_ctx = modbus_new_tcp("127.0.0.1", nPort)) == nullptr) {
            return false;
        }
        m_listen = modbus_tcp_listen(m_ctx, 8);
        sockaddr_in bound{};
        socklen_t len = sizeof bound;
        if (m_listen < 0 || getsockname(m_listen, reinterpret_cast<sockaddr*>(&bound), &len) != 0) {
            Stop();
            return false;
        }
        m_port = ntohs(bound.sin_port);
        m_thread = std::thread([this] { Serve({}); });
        return true;
    }

    // Answers unit nUnit over RTU on fd, which stays the caller's. The
    // device name given to libmodbus is never opened.
    bool StartRtu(int fd, int nUnit) {
        if (m_thread.joinable() ||
            (m_ctx = modbus_new_rtu("/dev/null", 19200, 'N', 8, 1)) == nullptr ||
            modbus_set_slave(m_ctx, nUnit) != 0) {
            Stop();
            return false;
        }
        m_thread = std::thread([this, fd] { Serve({fd}); });
        return true;
    }

    // Closes every connection and the listening socket; returns when the
    // server thread has ended.
    void Stop() {
        if (m_thread.joinable()) {
            m_bStop = true;
            m_thread.join();
            m_bStop = false;
        }
        if (m_listen >= 0) {
            close(m_listen);
            m_listen = -1;
        }
        if (m_ctx != nullptr) {
            modbus_set_socket(m_ctx, -1);
            modbus_free(m_ctx);
            m_ctx = nullptr;
        }
    }

    int Port() const { return m_port; }

    // While silent the server reads requests and answers none: a device
    // that has stopped answering.
    void SetSilent(bool bSilent) { m_silent = bSilent; }
    void SetHoldingRegister(int i, std::uint16_t v) {
        With([&](modbus_mapping_t& m) { m.tab_registers[i] = v; });
    }
    // The table, under the lock the server thread answers under.
    template <class F>
    void With(F f) {
        std::lock_guard<std::mutex> lock(m_lock);
        f(*m_mapping);
    }

private:
    // The stop flag is looked at every 20 ms. Over RTU the one client is the
    // caller's descriptor, and is left open.
    void Serve(std::vector<int> clients) {
        const bool bTcp = m_listen >= 0;
        std::vector<std::uint8_t> query(MODBUS_TCP_MAX_ADU_LENGTH);
        while (!m_bStop) {
            std::vector<pollfd> fds{{m_listen, POLLIN, 0}};  // poll skips a negative one
            for (int c : clients) {
                fds.push_back({c, POLLIN, 0});
            }
            const int s = poll(fds.data(), fds.size(), 20) > 0 && (fds[0].revents & POLLIN) != 0
                              ? accept(m_listen, nullptr, nullptr)
                              : -1;
            if (s >= 0) {
                clients.push_back(s);
            }
            for (std::size_t i = 1; i < fds.size(); ++i) {
                if (fds[i].revents == 0) {
                    continue;
                }
                modbus_set_socket(m_ctx, fds[i].fd);
                // 0: a request for another unit, which libmodbus ignores.
                const int n = modbus_receive(m_ctx, query.data());
                if (n > 0 && !m_silent) {
                    std::lock_guard<std::mutex> lock(m_lock);
                    modbus_reply(m_ctx, query.data(), n, m_mapping);
                } else if (n < 0 && bTcp) {
                    close(fds[i].fd);
                    std::erase(clients, fds[i].fd);
                }
            }
        }
        for (int c : bTcp ? clients : std::vector<int>{}) {
            close(c);
        }
    }

    modbus_mapping_t* m_mapping;
    std::mutex m_lock;
    modbus_t* m_ctx = nullptr;
    int m_listen = -1;
    int m_port = 0;
    std::atomic<bool> m_silent{false};
    std::atomic<bool> m_bStop{false};
    std::thread m_thread;
};

}  // namespace testsupport
