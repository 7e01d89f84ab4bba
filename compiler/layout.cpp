#include "compiler/layout.h"

#include <cstddef>
#include <span>
#include <string_view>
#include <vector>

#include "cells/fatal.h"
#include "platform/crt.h"
#include "platform/directory.h"
#include "platform/sockets.h"

namespace tove {

namespace {

using platform::CrtAddrinfo;
using platform::CrtDirent;
using platform::CrtFdSet;
using platform::CrtSize;
using platform::CrtSocklen;
using platform::CrtTime;

// A field of a record as programs see it.
struct LayoutField {
  std::string_view name;
  size_t width;
  size_t offset;
};

// A record: its name, its size, and its fields in the order they are placed
// (the order does not change the text, which follows the offsets).
struct LayoutRecord {
  std::string_view name;
  size_t size;
  std::span<const LayoutField> fields;
};

// A field exactly as the platform layer's record defines it.
// The width of a field's type (a pointer field's width is the pointer's).
template <class Field>
constexpr size_t kFieldWidth = sizeof(Field);

#define TOVE_LAYOUT_FIELD(record, member) \
  LayoutField { #member, kFieldWidth < decltype(record::member)>, offsetof(record, member) }

constexpr LayoutField kAddrinfoFields[] = {
    TOVE_LAYOUT_FIELD(CrtAddrinfo, ai_flags),     TOVE_LAYOUT_FIELD(CrtAddrinfo, ai_family),
    TOVE_LAYOUT_FIELD(CrtAddrinfo, ai_socktype),  TOVE_LAYOUT_FIELD(CrtAddrinfo, ai_protocol),
    TOVE_LAYOUT_FIELD(CrtAddrinfo, ai_addrlen),   TOVE_LAYOUT_FIELD(CrtAddrinfo, ai_addr),
    TOVE_LAYOUT_FIELD(CrtAddrinfo, ai_canonname), TOVE_LAYOUT_FIELD(CrtAddrinfo, ai_next),
};

constexpr LayoutField kDirentFields[] = {
    TOVE_LAYOUT_FIELD(CrtDirent, d_ino),    TOVE_LAYOUT_FIELD(CrtDirent, d_off),
    TOVE_LAYOUT_FIELD(CrtDirent, d_namlen), TOVE_LAYOUT_FIELD(CrtDirent, d_reclen),
    TOVE_LAYOUT_FIELD(CrtDirent, d_type),   TOVE_LAYOUT_FIELD(CrtDirent, d_name),
};

#undef TOVE_LAYOUT_FIELD

constexpr LayoutRecord kRecords[] = {
    {"addrinfo", sizeof(CrtAddrinfo), kAddrinfoFields},
    {"dirent", sizeof(CrtDirent), kDirentFields},
    {"fd_set", sizeof(CrtFdSet), {}},
    {"size_t", sizeof(CrtSize), {}},
    {"socklen_t", sizeof(CrtSocklen), {}},
    {"time_t", sizeof(CrtTime), {}},
};

// ---- the layout programs rely on ---------------------------------------------
//
// Programs read these records at fixed offsets, so every width, offset and
// size is pinned here; a platform record that moves a field fails the build.

constexpr bool field_is(const LayoutField& field, std::string_view name, size_t width, size_t offset) {
  return field.name == name && field.width == width && field.offset == offset;
}

constexpr bool record_is(const LayoutRecord& record, std::string_view name, size_t size) {
  return record.name == name && record.size == size;
}

static_assert(field_is(kAddrinfoFields[0], "ai_flags", 4, 0));
static_assert(field_is(kAddrinfoFields[1], "ai_family", 4, 4));
static_assert(field_is(kAddrinfoFields[2], "ai_socktype", 4, 8));
static_assert(field_is(kAddrinfoFields[3], "ai_protocol", 4, 12));
static_assert(field_is(kAddrinfoFields[4], "ai_addrlen", 8, 16));
static_assert(field_is(kAddrinfoFields[5], "ai_addr", 8, 32));
static_assert(field_is(kAddrinfoFields[6], "ai_canonname", 8, 24));
static_assert(field_is(kAddrinfoFields[7], "ai_next", 8, 40));

static_assert(field_is(kDirentFields[0], "d_ino", 4, 0));
static_assert(field_is(kDirentFields[1], "d_off", 4, 4));
static_assert(field_is(kDirentFields[2], "d_namlen", 8, 16));
static_assert(field_is(kDirentFields[3], "d_reclen", 2, 8));
static_assert(field_is(kDirentFields[4], "d_type", 4, 24));
static_assert(field_is(kDirentFields[5], "d_name", 261, 28));

static_assert(record_is(kRecords[0], "addrinfo", 48));
static_assert(record_is(kRecords[1], "dirent", 296));
static_assert(record_is(kRecords[2], "fd_set", 520));
static_assert(record_is(kRecords[3], "size_t", 8));
static_assert(record_is(kRecords[4], "socklen_t", 4));
static_assert(record_is(kRecords[5], "time_t", 8));

// ---- the text ---------------------------------------------------------------------

// A run of bytes in a record: a field, or a gap (empty label) that no field
// covers yet.
struct Segment {
  std::string_view label;
  size_t size;
};

// Splits the gap holding the field into the bytes before it, the field and
// the bytes after it (each gap only when it is not empty). A field that does
// not fall inside one gap is a broken record table.
void place_field(std::vector<Segment>& segments, const LayoutField& field) {
  size_t start = 0;
  for (auto it = segments.begin(); it != segments.end(); ++it) {
    const size_t end = start + it->size;
    if (end <= field.offset) {
      start = end;
      continue;
    }
    TOVE_ASSERT(it->label.empty() && field.offset >= start && field.offset + field.width <= end);
    std::vector<Segment> replacement;
    if (field.offset > start) replacement.push_back({{}, field.offset - start});
    replacement.push_back({field.name, field.width});
    if (end > field.offset + field.width) replacement.push_back({{}, end - field.offset - field.width});
    it = segments.erase(it);
    segments.insert(it, replacement.begin(), replacement.end());
    return;
  }
  TOVE_ASSERT(false);
}

std::string describe_record(const LayoutRecord& record) {
  std::vector<Segment> segments{{{}, record.size}};
  for (const LayoutField& field : record.fields) place_field(segments, field);
  std::string text = "[";
  text.append(record.name);
  for (const Segment& segment : segments) {
    text.append("[").append(segment.label).append("[").append(std::to_string(segment.size)).append("]]");
  }
  text.append("]");
  return text;
}

}  // namespace

std::string build_layout_text() {
  std::string text = "[";
  for (const LayoutRecord& record : kRecords) text += describe_record(record);
  return text + "]";
}

}  // namespace tove
