#include "tissue/KaCSettingsValue.h"

#include "base/CbException.h"

KaCSettingsValueBase::KaCSettingsValueBase(const char* szSection, const char* szKey,
                                           KaISettingsStore& store)
    : m_store(store), m_strSection(szSection), m_strKey(szKey) {
  m_store.Attach(*this);
}

KaCSettingsValueBase::~KaCSettingsValueBase() { m_store.Detach(*this); }

void KaCSettingsValueBase::Read(bool bKeepChanged) {
  std::string text;
  const bool bStored = m_store.Fetch(m_strSection, m_strKey, text);
  if (!(bKeepChanged && m_bChanged)) {
    if (!bStored) {
      SetToDefault();
    } else if (!FromText(text)) {
      throw CbException("KaCSettingsValueBase::Read", __FILE__, __LINE__,
                        "bad stored value '" + text + "' for " + m_strSection + "/" + m_strKey);
    }
  }
  m_bRead = true;
}
