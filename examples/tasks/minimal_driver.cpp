// Example: a minimal driver plug-in with one read block.
//
// A serial driver (CSerialProtocol) for a device that answers one request:
// 'R', the first register, the count and an XOR checksum, answered by 'R',
// the count, two bytes per register (high byte first) and an XOR checksum.
// Its addresses are "R0" to "R255"; a block reads up to 16 registers and
// comes back with two bytes per register, low byte first. The port and its
// time-out come from the base class's records ("Port.*", "Timing.*").
// KELVARA_EXPORT_DRIVER makes the shared object a plug-in a host loads;
// minimal_driver_host.cpp is such a host.
#include <kelvara/Kelvara.h>

#include <chrono>
#include <cstdlib>

namespace {

constexpr const char* kRemoteFormat = "[T1(Area) R][+1NVD(Register) 0 to 255]";
constexpr DWORD kMaxRegisters = 16;

class CRegisterDriver : public CSerialProtocol {
public:
    CRegisterDriver()
        : CSerialProtocol("", kRemoteFormat),
          m_Port(&m_PortProperties, &m_FlowProperties, &m_TimingProperties, this) {
        SetPortDefaults(FALSE, 19200, CPortProperties::PARITY_NONE, CPortProperties::STOPBITS_ONE,
                        8, 1, CPortProperties::MEDIA_RS232);
        SetTimingDefaults(0, 0, 500);
        m_GeneralProperties.m_strVersion = GetVersionInfo();
    }
    // Ports do not close themselves.
    ~CRegisterDriver() override {
        if (IsStarted()) {
            StopProtocol();
        }
    }

    CString GetVersionInfo() override { return "Register device 1.0"; }
    BOOL IsSerialProtocol() override { return 1; }
    DWORD GetMaxBlockSize(CRemoteAddress* /*pAddress*/) override { return kMaxRegisters; }

    // The base answers 2006 when already started; a port that fails undoes
    // the start.
    DWORD StartProtocol() override {
        DWORD dwResult = CSerialProtocol::StartProtocol();
        if (dwResult != SE_NO_ERROR) {
            return dwResult;
        }
        dwResult = m_Port.Open();
        if (dwResult == SE_NO_ERROR && (dwResult = m_Port.Init()) != SE_NO_ERROR) {
            m_Port.Close();
        }
        if (dwResult != SE_NO_ERROR) {
            CSerialProtocol::StopProtocol();
        }
        return dwResult;
    }
    DWORD StopProtocol() override {
        const DWORD dwResult = CSerialProtocol::StopProtocol();
        if (dwResult == SE_NO_ERROR) {
            m_Port.Close();
        }
        return dwResult;
    }

    DWORD TransferData(CComBlock* pBlock) override {
        if (pBlock == nullptr) {
            return SE_INVALID_BLOCK;
        }
        const auto start = std::chrono::steady_clock::now();
        pBlock->RecycleBlockLeaveData();
        CByteArray data;
        const DWORD dwResult = IsStarted() ? Read(*pBlock, data) : SE_PROTOCOL_NOT_STARTED;
        if (dwResult == SE_NO_ERROR) {
            pBlock->SetBlockData(&data);
            pBlock->SetBlockGood();
        } else {
            pBlock->SetStandardErrorCode(dwResult, GetCommsStats());
            pBlock->SetBlockBad();
        }
        const auto elapsed = std::chrono::steady_clock::now() - start;
        pBlock->SetComTime(static_cast<DWORD>(
            std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count()));
        CSerialProtocol::TransferData(pBlock);  // counts the block and its time
        return dwResult;
    }

private:
    DWORD Read(CComBlock& block, CByteArray& data) {
        CRemoteAddress address(block.GetFirstAddress()->m_strAddress, kRemoteFormat, "U1U1");
        CString strRegister;
        if (block.GetReadOrWrite() == RW_WRITE || address.Validate() != EDF_OK ||
            address.Field("Register", strRegister) != EDF_OK) {
            return SE_INVALID_BLOCK;
        }
        const DWORD dwFirst = static_cast<DWORD>(std::atoi(strRegister.GetString()));
        const DWORD dwCount = block.GetPointCount();
        if (dwCount == 0 || dwCount > kMaxRegisters || dwFirst + dwCount > 256) {
            return SE_INVALID_BLOCK;
        }
        CCombuf request;
        request += static_cast<BYTE>('R');
        request += static_cast<BYTE>(dwFirst);
        request += static_cast<BYTE>(dwCount);
        request += request.XOR_CRC(0, -1);
        m_Port.Clear();  // a late reply to an earlier request is not this one's
        CCombuf reply;
        DWORD dwResult = m_Port.Write(&request, GetCommsStats());
        if (dwResult == SE_NO_ERROR) {
            dwResult = m_Port.Poll(&reply, 3 + 2 * dwCount, GetCommsStats(), GetTimeout());
        }
        if (dwResult != SE_NO_ERROR) {
            return dwResult;
        }
        if (reply.XOR_CRC(0, -1) != 0) {
            return SE_CHECKSUM_ERROR;
        }
        if (reply[0] != 'R' || reply[1] != dwCount) {
            return SE_INVALID_FORMAT;
        }
        for (DWORD i = 0; i < dwCount; ++i) {
            data.Add(reply[static_cast<int>(3 + 2 * i)]);
            data.Add(reply[static_cast<int>(2 + 2 * i)]);
        }
        return SE_NO_ERROR;
    }

    CComPort m_Port;
};

}  // namespace

KELVARA_EXPORT_DRIVER(CRegisterDriver, "Register device")
