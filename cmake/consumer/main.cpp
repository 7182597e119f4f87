// Stores a string in an archive and reads it back through the installed
// library; exits nonzero when anything is off.
#include <kelvara/Kelvara.h>

#include <cstdio>

int main() {
    CMemFile file;
    {
        CArchive ar(&file, CArchive::store);
        ar << CString("consumer");
    }
    file.SeekToBegin();
    CArchive ar(&file, CArchive::load);
    CString back;
    ar >> back;
    CString text;
    const bool ok = back == "consumer" && ModuleLoadString(&text, 10000, AfxGetResourceHandle()) &&
                    text == "No error";
    std::printf("consumer: %s\n", ok ? "ok" : "FAILED");
    return ok ? 0 : 1;
}
