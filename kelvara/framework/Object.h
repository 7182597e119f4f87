// CObject and CRuntimeClass: the framework's root object with run-time class
// records, so that an archive can create an object from its class name.
#pragma once

#include "kelvara/framework/Export.h"
#include "kelvara/framework/Types.h"

class CArchive;
class CObject;

// Marks a schema number under which a loader accepts every stored version
// and reads the stored one with CArchive::GetObjectSchema.
constexpr UINT VERSIONABLE_SCHEMA = 0x80000000u;

struct KELVARA_API CRuntimeClass {
    const char* m_lpszClassName;
    int m_nObjectSize;
    UINT m_wSchema;  // 0xFFFF: not serialisable
    CObject* (*m_pfnCreateObject)();
    CRuntimeClass* m_pBaseClass;

    // A new object of this class, or nullptr when it cannot be created.
    CObject* CreateObject() const;
    bool IsDerivedFrom(const CRuntimeClass* pBaseClass) const;

    // The class registered under this name, or nullptr.
    static CRuntimeClass* FromName(const char* lpszClassName);

    // Writes the schema, the name length and the name (16-bit each).
    void Store(CArchive& ar) const;
    // Reads what Store wrote and finds the registered class; nullptr when the
    // name is unknown or malformed. The stored schema goes to *pwSchemaNum.
    static CRuntimeClass* Load(CArchive& ar, UINT* pwSchemaNum);
};

// Adds a class to the registry; done once per class by IMPLEMENT_DYNAMIC.
// A class registered by a driver plug-in leaves the registry again when the
// plug-in is unloaded, so that loading an archive afterwards never reaches
// code that is gone. When two modules register the same name, the one
// registered last is found until it leaves.
struct KELVARA_API CClassRegistration {
    explicit CClassRegistration(CRuntimeClass* pClass);
    ~CClassRegistration();
    CClassRegistration(const CClassRegistration&) = delete;
    CClassRegistration& operator=(const CClassRegistration&) = delete;

private:
    CRuntimeClass* m_pClass;
};

// Diagnostic output of CObject::Dump; the library's objects dump nothing.
class CDumpContext {};

class KELVARA_API CObject {
public:
    virtual CRuntimeClass* GetRuntimeClass() const;
    virtual ~CObject() = default;
    virtual void Serialize(CArchive& ar);
    virtual void AssertValid() const {}
    virtual void Dump(CDumpContext& dc) const { (void)dc; }

    bool IsKindOf(const CRuntimeClass* pClass) const;
    bool IsSerializable() const;

    static CRuntimeClass classCObject;

protected:
    CObject() = default;
    CObject(const CObject&) = default;
    CObject& operator=(const CObject&) = default;
};

#define RUNTIME_CLASS(class_name) (&class_name::class##class_name)

#define DECLARE_DYNAMIC(class_name)         \
public:                                     \
    static CRuntimeClass class##class_name; \
    CRuntimeClass* GetRuntimeClass() const override;

#define DECLARE_DYNCREATE(class_name) \
    DECLARE_DYNAMIC(class_name)       \
    static CObject* CreateObject();

// What CArchive::ReadObject does, callable where CArchive is still
// incomplete: the extraction operator of DECLARE_SERIAL is defined in the
// class, so that it belongs to whichever module declares the class (the
// library or a plug-in) and nothing needs exporting for it.
KELVARA_API CObject* KelvaraReadObject(CArchive& ar, const CRuntimeClass* pClassRefRequested);

#define DECLARE_SERIAL(class_name)                                                        \
    DECLARE_DYNCREATE(class_name)                                                         \
    [[maybe_unused]] friend CArchive& operator>>(CArchive& ar, class_name*& pOb) {        \
        pOb = static_cast<class_name*>(KelvaraReadObject(ar, RUNTIME_CLASS(class_name))); \
        return ar;                                                                        \
    }

#define KELVARA_IMPLEMENT_RUNTIMECLASS(class_name, base_class_name, wSchema, pfnNew)         \
    CRuntimeClass class_name::class##class_name = {#class_name, sizeof(class_name), wSchema, \
                                                   pfnNew, RUNTIME_CLASS(base_class_name)};  \
    static CClassRegistration _kelvara_init_##class_name(&class_name::class##class_name);    \
    CRuntimeClass* class_name::GetRuntimeClass() const {                                     \
        return RUNTIME_CLASS(class_name);                                                    \
    }

#define IMPLEMENT_DYNAMIC(class_name, base_class_name) \
    KELVARA_IMPLEMENT_RUNTIMECLASS(class_name, base_class_name, 0xFFFF, nullptr)

#define IMPLEMENT_DYNCREATE(class_name, base_class_name) \
    CObject* class_name::CreateObject() {                \
        return new class_name;                           \
    }                                                    \
    KELVARA_IMPLEMENT_RUNTIMECLASS(class_name, base_class_name, 0xFFFF, class_name::CreateObject)

#define IMPLEMENT_SERIAL(class_name, base_class_name, wSchema) \
    CObject* class_name::CreateObject() {                      \
        return new class_name;                                 \
    }                                                          \
    KELVARA_IMPLEMENT_RUNTIMECLASS(class_name, base_class_name, wSchema, class_name::CreateObject)
