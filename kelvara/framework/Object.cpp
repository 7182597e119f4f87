#include "kelvara/framework/Object.h"

#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "kelvara/framework/Archive.h"

namespace {

struct ClassRegistry {
    std::mutex lock;
    // Every class registered under a name, latest last.
    std::map<std::string, std::vector<CRuntimeClass*>, std::less<>> byName;
};

ClassRegistry& Registry() {
    static ClassRegistry registry;
    return registry;
}

// Longest class name a loader accepts; real names are far shorter.
constexpr WORD kMaxClassNameLength = 64;

}  // namespace

CRuntimeClass CObject::classCObject = {"CObject", sizeof(CObject), 0xFFFF, nullptr, nullptr};

CClassRegistration::CClassRegistration(CRuntimeClass* pClass) : m_pClass(pClass) {
    ClassRegistry& r = Registry();
    std::lock_guard<std::mutex> guard(r.lock);
    r.byName[pClass->m_lpszClassName].push_back(pClass);
}

CClassRegistration::~CClassRegistration() {
    ClassRegistry& r = Registry();
    std::lock_guard<std::mutex> guard(r.lock);
    const auto it = r.byName.find(std::string_view(m_pClass->m_lpszClassName));
    if (it == r.byName.end()) {
        return;
    }
    std::erase(it->second, m_pClass);
    if (it->second.empty()) {
        r.byName.erase(it);
    }
}

CObject* CRuntimeClass::CreateObject() const {
    return m_pfnCreateObject ? m_pfnCreateObject() : nullptr;
}

bool CRuntimeClass::IsDerivedFrom(const CRuntimeClass* pBaseClass) const {
    for (const CRuntimeClass* p = this; p != nullptr; p = p->m_pBaseClass) {
        if (p == pBaseClass) {
            return true;
        }
    }
    return false;
}

CRuntimeClass* CRuntimeClass::FromName(const char* lpszClassName) {
    if (!lpszClassName) {
        return nullptr;
    }
    if (std::strcmp(lpszClassName, "CObject") == 0) {
        return &CObject::classCObject;
    }
    ClassRegistry& r = Registry();
    std::lock_guard<std::mutex> guard(r.lock);
    const auto it = r.byName.find(std::string_view(lpszClassName));
    return it == r.byName.end() ? nullptr : it->second.back();
}

void CRuntimeClass::Store(CArchive& ar) const {
    const WORD nLen = static_cast<WORD>(std::strlen(m_lpszClassName));
    ar << static_cast<WORD>(m_wSchema) << nLen;
    ar.Write(m_lpszClassName, nLen);
}

CRuntimeClass* CRuntimeClass::Load(CArchive& ar, UINT* pwSchemaNum) {
    WORD wSchema = 0;
    WORD nLen = 0;
    ar >> wSchema >> nLen;
    if (pwSchemaNum) {
        *pwSchemaNum = wSchema;
    }
    if (nLen == 0 || nLen > kMaxClassNameLength) {
        return nullptr;
    }
    char name[kMaxClassNameLength + 1] = {};
    if (ar.Read(name, nLen) != nLen) {
        CArchiveException::Throw(CArchiveException::endOfFile);
    }
    return FromName(name);
}

CRuntimeClass* CObject::GetRuntimeClass() const {
    return &CObject::classCObject;
}

void CObject::Serialize(CArchive&) {}

bool CObject::IsKindOf(const CRuntimeClass* pClass) const {
    return GetRuntimeClass()->IsDerivedFrom(pClass);
}

bool CObject::IsSerializable() const {
    return GetRuntimeClass()->m_wSchema != 0xFFFF;
}
