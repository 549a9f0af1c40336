// Document states that only running workers reach, set up directly by tests.
#pragma once

#include "engine/WexoDoc.h"

struct DocumentTestAccess {
  static void AddActive(CWexoDoc& doc, const CLinkInfo* link) { doc.AddActive(doc.Record(link->m_nIndex)); }
  static void RemoveActive(CWexoDoc& doc, const CLinkInfo* link) { doc.RemoveActive(doc.Record(link->m_nIndex)); }
  static std::int16_t& ActiveThreads(CWexoDoc& doc) { return doc.m_nActiveThreads; }
  static std::int64_t& Elapsed(CWexoDoc& doc) { return doc.m_nElapsed; }
  static std::int64_t& CrawlStart(CWexoDoc& doc) { return doc.m_tCrawlStart; }
  static bool& Finished(CWexoDoc& doc) { return doc.m_bFinished; }
  static bool& Running(CWexoDoc& doc) { return doc.m_bRunning; }
  // A table whose URL list no longer matches its records (the list itself is never const).
  static std::vector<std::string>& Urls(CWexoDoc& doc) {
    return const_cast<std::vector<std::string>&>(doc.m_table.GetUrls());
  }
  static std::span<CLinkInfo* const> Active(const CWexoDoc& doc) { return doc.m_paActive; }
  static bool HasQueuedResults(const CWexoDoc& doc) { return !doc.m_paFinished.empty(); }
  static std::size_t QueuedResults(const CWexoDoc& doc) { return doc.m_paFinished.size(); }
};
