#include "Engine/BaseObject.h"

Identifiable::Identifiable() : m_uiIdentity(0), m_szShortName{}
{
}

Identifiable::~Identifiable() = default;
