// A sample driver plug-in: a serial-style driver whose "device" is a
// register table held in memory, so it runs anywhere. It shows the road of
// one block through a driver: check the address against the driver's EDF
// format, encode it, frame a request with a checksum, log it, take the
// reply apart, fill the block or set its error code, and have the base
// class count the block.
#include <kelvara/Kelvara.h>

#include <array>
#include <cstdlib>

namespace {

// R: 16-bit registers, C: coils (one byte each). Offsets step by one.
constexpr const char* kRemoteFormat = "[T1(Area) R C][+1N4D(Offset) 0 to 9999]";
constexpr const char* kAttributes = "U1U2";
constexpr WORD kChecksumPolynomial = 0xA001;
// The simulated device answers offsets below this; beyond it, nothing.
constexpr int kDeviceSize = 1000;

class CSimulatedDriver : public CSerialProtocol {
public:
    CSimulatedDriver() : CSerialProtocol("", kRemoteFormat) {
        SetTimingDefaults(0, 2, 200);
        for (int i = 0; i < kDeviceSize; ++i) {
            m_registers[static_cast<size_t>(i)] = static_cast<WORD>(i * 10);
        }
    }

    CString GetVersionInfo() override { return "Simulated register device 1.0"; }
    BOOL IsSerialProtocol() override { return 1; }

    DWORD TransferData(CComBlock* pBlock) override {
        if (pBlock == nullptr) {
            return SE_INVALID_BLOCK;
        }
        pBlock->RecycleBlockLeaveData();
        const DWORD result = Exchange(pBlock);
        if (result != SE_NO_ERROR) {
            pBlock->SetStandardErrorCode(result, GetCommsStats());
            pBlock->SetBlockBad();
        } else {
            pBlock->SetBlockGood();
        }
        pBlock->SetComTime(2 + pBlock->GetPointCount() / 8);
        CSerialProtocol::TransferData(pBlock);
        return result;
    }

private:
    DWORD Exchange(CComBlock* pBlock) {
        CRemoteAddress address(pBlock->GetFirstAddress()->m_strAddress, kRemoteFormat, kAttributes);
        if (address.Validate() != EDF_OK) {
            return SE_INVALID_FORMAT;
        }
        CString area;
        CString offsetText;
        address.Field("Area", area);
        address.Field("Offset", offsetText);
        const int first = std::atoi(offsetText);
        const int count = static_cast<int>(pBlock->GetPointCount());
        const bool write = pBlock->GetReadOrWrite() == RW_WRITE;

        // Request: node, function, encoded address, point count, checksum.
        CCombuf request;
        request += static_cast<BYTE>(1);
        request += static_cast<BYTE>(write ? 0x10 : 0x03);
        CByteArray encoded;
        address.Compress(encoded);
        request += encoded;
        request += static_cast<BYTE>(count);
        if (write) {
            CByteArray values;
            pBlock->GetBlockData(values);
            request += values;
        }
        AppendChecksum(request);

        for (DWORD attempt = 0; attempt <= GetRetryCount(); ++attempt) {
            if (attempt > 0) {
                GetCommsStats()->IncrementRetryCount();
            }
            GetCommsStats()->AddBytesOut(static_cast<DWORD>(request.GetSize()));
            GetCommsStats()->AddToCommsLog(&request, false);
            CCombuf reply;
            if (!Device(area[0] == 'C', first, count, write, pBlock, reply)) {
                continue;  // no reply within the time-out: try again
            }
            GetCommsStats()->AddBytesIn(static_cast<DWORD>(reply.GetSize()));
            GetCommsStats()->AddToCommsLog(&reply, true);
            if (!ChecksumMatches(reply)) {
                return SE_CHECKSUM_ERROR;
            }
            if (!write) {
                CByteArray data;
                reply.GetDataSegment(&data, 2, reply.GetSize() - 3);
                pBlock->SetBlockData(&data);
            }
            return SE_NO_ERROR;
        }
        // Stored in the block, it counts the time-out and logs "NR".
        return SE_TIMEOUT;
    }

    // The device's side: false when it does not answer.
    bool Device(bool coils, int first, int count, bool write, CComBlock* pBlock, CCombuf& reply) {
        if (first < 0 || count <= 0 || first + count > kDeviceSize) {
            return false;
        }
        const int size = coils ? 1 : 2;
        reply += static_cast<BYTE>(1);
        reply += static_cast<BYTE>(write ? 0x10 : 0x03);
        CByteArray data;
        pBlock->GetBlockData(data);
        for (int i = 0; i < count; ++i) {
            WORD& reg = m_registers[static_cast<size_t>(first + i)];
            if (write && data.GetSize() >= (i + 1) * size) {
                reg = static_cast<WORD>(coils ? data[i] : data[2 * i] | data[2 * i + 1] << 8);
            } else if (!write) {
                reply += static_cast<BYTE>(reg & 0xFF);
                if (!coils) {
                    reply += static_cast<BYTE>(reg >> 8);
                }
            }
        }
        AppendChecksum(reply);
        return true;
    }

    static void AppendChecksum(CCombuf& frame) {
        const WORD crc = frame.Polynomial_LRC(kChecksumPolynomial, 0, -1);
        frame += static_cast<BYTE>(crc & 0xFF);
        frame += static_cast<BYTE>(crc >> 8);
    }

    static bool ChecksumMatches(const CCombuf& frame) {
        const int n = frame.GetSize();
        if (n < 4) {
            return false;
        }
        const WORD crc = frame.Polynomial_LRC(kChecksumPolynomial, 0, n - 2);
        return frame[n - 2] == (crc & 0xFF) && frame[n - 1] == (crc >> 8);
    }

    std::array<WORD, kDeviceSize> m_registers{};
};

}  // namespace

KELVARA_EXPORT_DRIVER(CSimulatedDriver, "Simulated register device")
