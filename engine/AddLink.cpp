// The one way a link found on a page enters the link table.
#include <cstdint>
#include <memory>
#include <string>

#include "engine/Charset.h"
#include "engine/PageIntake.h"
#include "engine/WexoDoc.h"

const CLinkInfo* CWexoDoc::AddLink(const CLinkInfo* page, std::string& link, unsigned codePage) {
  const std::shared_ptr<const LinkRules> rules = CurrentRules();
  const PreparedLink prepared = PrepareLink(link, codePage, *rules);
  return AddPreparedLink(page, link, prepared);
}

const CLinkInfo* CWexoDoc::AddPreparedLink(const CLinkInfo* page, const std::string& link,
                                           const PreparedLink& prepared) {
  UpdateLink(*page, [](CLinkInfo& p) { ++p.m_nLinksOut; });

  if (const CLinkInfo* known = FindLink(link)) {
    AddReferrer(known, page);
    return known;
  }

  const CLinkInfo* added = NewLink(link, page, prepared.requestKind);
  UpdateLink(*added, [page](CLinkInfo& a) {
    if (const CCharsetInfo* charset = page->GetCharset())
      a.SetCharsetInfo(charset);
    else
      SetCharset(&a, "");
  });
  if (prepared.excluded)
    SetStatus(added, STATUS_USER_SKIP, std::string());
  else if (!prepared.internal && !m_settings.CheckExternal)
    SetStatus(added, STATUS_SKIP_EXTERNAL, std::string());
  return added;
}

std::shared_ptr<const LinkRules> CWexoDoc::CurrentRules() const {
  // Compared whole: the settings, the root and the prefixes change in many places, and the
  // comparison costs less than one link's tests.
  if (!m_rules || m_rules->root != m_csRootUrl || m_rules->includes != m_saInclude ||
      m_rules->excludes != m_saExclude || m_rules->makeLowerCase != (m_settings.MakeLowerCase != 0) ||
      m_rules->domainMatch != (m_settings.DomainMatch != 0) || m_rules->excludeMso != (m_settings.ExcludeMSO != 0)) {
    auto rules = std::make_shared<LinkRules>();
    rules->root = m_csRootUrl;
    rules->includes = m_saInclude;
    rules->excludes = m_saExclude;
    rules->makeLowerCase = m_settings.MakeLowerCase != 0;
    rules->domainMatch = m_settings.DomainMatch != 0;
    rules->excludeMso = m_settings.ExcludeMSO != 0;
    m_rules = std::move(rules);
  }
  return m_rules;
}
