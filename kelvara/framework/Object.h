/** \addtogroup framework
 @{ */
// CObject and CRuntimeClass: the framework's root object with run-time class
// records, so that an archive can create an object from its class name.
#pragma once

#include "kelvara/framework/Export.h"
#include "kelvara/framework/Types.h"

class CArchive;
class CObject;

/// Marks a schema number under which a loader accepts every stored version
/// and reads the stored one with CArchive::GetObjectSchema.
constexpr UINT VERSIONABLE_SCHEMA = 0x80000000u;

/// The run-time record of a class: its name, size, schema, factory and base.
struct KELVARA_API CRuntimeClass {
    /// The class name as written in the source.
    const char* m_lpszClassName;
    /// sizeof the class.
    int m_nObjectSize;
    UINT m_wSchema;  ///< 0xFFFF: not serialisable
    /// Creates a new object, or nullptr for a class without dynamic creation.
    CObject* (*m_pfnCreateObject)();
    /// The record of the base class; nullptr for CObject.
    CRuntimeClass* m_pBaseClass;

    /// A new object of this class, or nullptr when it cannot be created.
    CObject* CreateObject() const;
    /// True for this class and every class derived from it.
    bool IsDerivedFrom(const CRuntimeClass* pBaseClass) const;

    /// The class registered under this name, or nullptr.
    static CRuntimeClass* FromName(const char* lpszClassName);

    /// Writes the schema, the name length and the name (16-bit each).
    void Store(CArchive& ar) const;
    /// Reads what Store wrote and finds the registered class; nullptr when the
    /// name is unknown or malformed. The stored schema goes to *pwSchemaNum.
    static CRuntimeClass* Load(CArchive& ar, UINT* pwSchemaNum);
};

/// Adds a class to the registry; done once per class by IMPLEMENT_DYNAMIC.
/// A class registered by a driver plug-in leaves the registry again when the
/// plug-in is unloaded, so that loading an archive afterwards never reaches
/// code that is gone. When two modules register the same name, the one
/// registered last is found until it leaves.
struct KELVARA_API CClassRegistration {
    /// Registers pClass until the registration is destroyed.
    explicit CClassRegistration(CRuntimeClass* pClass);
    ~CClassRegistration();
    CClassRegistration(const CClassRegistration&) = delete;
    CClassRegistration& operator=(const CClassRegistration&) = delete;

private:
    CRuntimeClass* m_pClass;
};

/// Diagnostic output of CObject::Dump; the library's objects dump nothing.
class CDumpContext {};

/// The root of the framework's classes: a run-time class record and serialisation.
class KELVARA_API CObject {
public:
    /// The object's run-time class record.
    virtual CRuntimeClass* GetRuntimeClass() const;
    virtual ~CObject() = default;
    /// Stores or loads the object's own fields; CObject has none.
    virtual void Serialize(CArchive& ar);
    ///@{
    /// Diagnostics of the framework, which the library's objects leave empty.
    virtual void AssertValid() const {}
    virtual void Dump(CDumpContext& dc) const { (void)dc; }
    ///@}

    /// True when the object's class is pClass or derives from it.
    bool IsKindOf(const CRuntimeClass* pClass) const;
    /// True when the class has a schema, so an archive can store it.
    bool IsSerializable() const;

    /// The run-time class record of CObject itself.
    static CRuntimeClass classCObject;

protected:
    /// Only derived classes construct objects.
    CObject() = default;
    ///@{
    /// Copies carry no state of CObject.
    CObject(const CObject&) = default;
    CObject& operator=(const CObject&) = default;
    ///@}
};

/// The run-time class record of class_name.
#define RUNTIME_CLASS(class_name) (&class_name::class##class_name)

/// Declares the run-time class record of class_name (in the class body).
#define DECLARE_DYNAMIC(class_name)         \
public:                                     \
    static CRuntimeClass class##class_name; \
    CRuntimeClass* GetRuntimeClass() const override;

/// As DECLARE_DYNAMIC, and a factory so that the class can be created by name.
#define DECLARE_DYNCREATE(class_name) \
    DECLARE_DYNAMIC(class_name)       \
    static CObject* CreateObject();

/// What CArchive::ReadObject does, callable where CArchive is still
/// incomplete: the extraction operator of DECLARE_SERIAL is defined in the
/// class, so that it belongs to whichever module declares the class (the
/// library or a plug-in) and nothing needs exporting for it.
KELVARA_API CObject* KelvaraReadObject(CArchive& ar, const CRuntimeClass* pClassRefRequested);

/// As DECLARE_DYNCREATE, and an extraction operator to read the class from an archive.
#define DECLARE_SERIAL(class_name)                                                        \
    DECLARE_DYNCREATE(class_name)                                                         \
    [[maybe_unused]] friend CArchive& operator>>(CArchive& ar, class_name*& pOb) {        \
        pOb = static_cast<class_name*>(KelvaraReadObject(ar, RUNTIME_CLASS(class_name))); \
        return ar;                                                                        \
    }

/// Defines the run-time class record and registers it; used by the IMPLEMENT_ macros.
#define KELVARA_IMPLEMENT_RUNTIMECLASS(class_name, base_class_name, wSchema, pfnNew)         \
    CRuntimeClass class_name::class##class_name = {#class_name, sizeof(class_name), wSchema, \
                                                   pfnNew, RUNTIME_CLASS(base_class_name)};  \
    static CClassRegistration _kelvara_init_##class_name(&class_name::class##class_name);    \
    CRuntimeClass* class_name::GetRuntimeClass() const {                                     \
        return RUNTIME_CLASS(class_name);                                                    \
    }

/// Defines what DECLARE_DYNAMIC declared (in one source file).
#define IMPLEMENT_DYNAMIC(class_name, base_class_name) \
    KELVARA_IMPLEMENT_RUNTIMECLASS(class_name, base_class_name, 0xFFFF, nullptr)

/// Defines what DECLARE_DYNCREATE declared (in one source file).
#define IMPLEMENT_DYNCREATE(class_name, base_class_name) \
    CObject* class_name::CreateObject() {                \
        return new class_name;                           \
    }                                                    \
    KELVARA_IMPLEMENT_RUNTIMECLASS(class_name, base_class_name, 0xFFFF, class_name::CreateObject)

/// Defines what DECLARE_SERIAL declared, with the schema number wSchema.
#define IMPLEMENT_SERIAL(class_name, base_class_name, wSchema) \
    CObject* class_name::CreateObject() {                      \
        return new class_name;                                 \
    }                                                          \
    KELVARA_IMPLEMENT_RUNTIMECLASS(class_name, base_class_name, wSchema, class_name::CreateObject)
/** @} */
