// The columns of a record's row, shared by the list, its sort and the TAB exports.
#pragma once

// In the list's order; the TAB export writes them in this order too,
// with the status code between the address and the status text.
enum LinkColumn : int {
  kColumnAddress,
  kColumnStatus,
  kColumnType,
  kColumnSize,
  kColumnTitle,
  kColumnDate,
  kColumnLevel,
  kColumnLinksOut,
  kColumnLinksIn,
  kColumnServer,
  kColumnError,
  kColumnDuration,
  kColumnCharset,
  kColumnDescription,
  kColumnKeywords,
  kLinkColumnCount
};
