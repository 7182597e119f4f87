#include <dlfcn.h>

#include "kelvara/platform/DynamicLibrary.h"

namespace kelvara::platform {

namespace {

std::string LoaderError() {
    const char* text = dlerror();
    return text ? text : "unknown loader error";
}

}  // namespace

DynamicLibrary::~DynamicLibrary() {
    Close();
}

bool DynamicLibrary::Open(const std::string& strPath) {
    Close();
    m_hLibrary = dlopen(strPath.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (m_hLibrary == nullptr) {
        m_strError = LoaderError();
        return false;
    }
    m_strError.clear();
    return true;
}

void* DynamicLibrary::Symbol(const char* pszName) {
    if (m_hLibrary == nullptr || pszName == nullptr) {
        m_strError = "no library is open";
        return nullptr;
    }
    dlerror();
    void* p = dlsym(m_hLibrary, pszName);
    if (p == nullptr) {
        m_strError = LoaderError();
    }
    return p;
}

void DynamicLibrary::Close() {
    if (m_hLibrary != nullptr) {
        dlclose(m_hLibrary);
        m_hLibrary = nullptr;
    }
}

}  // namespace kelvara::platform
