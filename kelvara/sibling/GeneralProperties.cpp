#include "kelvara/sibling/GeneralProperties.h"

IMPLEMENT_SERIAL(CGeneralProperties, CQZProperties, 1)

CGeneralProperties::CGeneralProperties() : CQZProperties("General", "General") {}

CGeneralProperties::CGeneralProperties(const CGeneralProperties& other)
    : CQZProperties(other), m_strVersion(other.m_strVersion) {}

CGeneralProperties& CGeneralProperties::operator=(const CGeneralProperties& other) {
    CQZProperties::operator=(other);
    m_strVersion = other.m_strVersion;
    return *this;
}

CGeneralProperties::~CGeneralProperties() = default;

void CGeneralProperties::Serialize(CArchive& ar) {
    if (ar.IsStoring()) {
        SerializeHeader(ar);
        ar << m_strVersion;
        return;
    }
    CGeneralProperties loaded(*this);
    loaded.SerializeHeader(ar);
    ar >> loaded.m_strVersion;
    *this = loaded;
}

void CGeneralProperties::DescribeFields(FieldList& fields) {
    fields.push_back(StringField("Version", m_strVersion));
}
