// Example: an EDF address format checked and stepped.
//
// The format "[T1(Area) D M][+1N4D(Offset) 0 to 9999]" takes a one-letter
// area (D or M) and a four-digit offset that steps by one. An address is
// checked against it, its fields are read, and the addresses that follow it
// are worked out; an address outside the format is refused. Exits nonzero
// when the library answers anything else.
#include <kelvara/Kelvara.h>

#include <cstdio>

int main() {
    const char* pszFormat = "[T1(Area) D M][+1N4D(Offset) 0 to 9999]";
    CRemoteAddress address("D0100", pszFormat, "U1U2");
    if (address.Validate() != EDF_OK) {
        std::printf("D0100 refused\n");
        return 1;
    }
    CString area;
    CString offset;
    address.Field("Area", area);
    address.Field("Offset", offset);
    std::printf("D0100: area %s, offset %s\n", area.GetString(), offset.GetString());

    // Step three times; each next address is valid and one further on.
    CRemoteAddress current(address);
    for (int i = 0; i < 3; ++i) {
        CRemoteAddress next;
        if (current.GetNextAddress(next) != EDF_OK) {
            std::printf("no address after %s\n", current.GetAddress().GetString());
            return 1;
        }
        std::printf("next: %s\n", next.GetAddress().GetString());
        current = next;
    }
    const bool stepped = current.GetAddress() == "D0103";

    // Q is not an area of the format: the check says so.
    CRemoteAddress wrong("Q0100", pszFormat, "U1U2");
    const EDF_RET eWrong = wrong.Validate();
    std::printf("Q0100: refused, EDF_RET %d\n", static_cast<int>(eWrong));
    return stepped && eWrong != EDF_OK ? 0 : 1;
}
