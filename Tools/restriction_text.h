// The one-line text form of compiled queries that quirnel-query prints and
// that scripts and tests compare against (see the quirnel-query format).
#pragma once

#include <string>

#include <mapidefs.h>

// R as in `and(property(EQ, 0x0037001E, 0x0037001E="abc"), exist(0x0E080003))`;
// "none" for null.
std::string RestrictionText(const SRestriction* restriction);
// `TAG=PAYLOAD`, or "null" for no value.
std::string PropValueText(const SPropValue* value);
// "TAG, TAG, ..." of a column set.
std::string ColumnsText(const SPropTagArray& columns);
// "TAG ASC|DESC|COMBINE, ...; categories N" of a sort order.
std::string SortOrderText(const SSortOrderSet& sortOrder);
// text in double quotes; `"` and `\` get a backslash, bytes outside
// 0x20-0x7E are written \xHH.
std::string QuotedText(const std::string& text);
// `0x` and 8 upper-case hex digits.
std::string TagText(ULONG tag);
