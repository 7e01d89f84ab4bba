#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "calls.h"
#include "platform/crt.h"
#include "platform/directory.h"
#include "platform/wide.h"

using namespace tove;
using namespace tove::platform;
using namespace tove::testing;

namespace {

// A fresh folder under /tmp, removed with everything in it at the end.
class Folder {
 public:
  Folder() {
    char pattern[] = "/tmp/tove_dir_XXXXXX";
    path_ = mkdtemp(pattern);
  }
  ~Folder() { std::system(("rm -rf '" + path_ + "'").c_str()); }
  const std::string& path() const { return path_; }
  std::string at(const std::string& name) const { return path_ + "/" + name; }
  void file(const std::string& name) const { close(open(at(name).c_str(), O_CREAT | O_WRONLY, 0644)); }

 private:
  std::string path_;
};

struct Entry {
  std::string name;
  uint32_t type;
  uint32_t token;
  uint16_t length;
  uint64_t name_length;
};

std::vector<Entry> list(DirectoryStream* stream) {
  std::vector<Entry> entries;
  while (CrtDirent* e = read_directory(stream)) {
    EXPECT_EQ(static_cast<void*>(e), static_cast<void*>(stream)) << "the entry is the stream's first member";
    EXPECT_EQ(e->d_ino, 0u);
    entries.push_back({e->d_name, e->d_type, e->d_off, e->d_reclen, e->d_namlen});
  }
  return entries;
}

TEST(Utf8, AcceptsOnlyShortestFormsOfScalarValues) {
  EXPECT_TRUE(is_utf8("plain.txt"));
  EXPECT_TRUE(is_utf8("\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"));
  EXPECT_FALSE(is_utf8("\xC0\xAF")) << "overlong slash";
  EXPECT_FALSE(is_utf8("\xED\xA0\x80")) << "a surrogate";
  EXPECT_FALSE(is_utf8("\xF4\x90\x80\x80")) << "beyond U+10FFFF";
  EXPECT_FALSE(is_utf8("\xE2\x82")) << "cut short";
  EXPECT_FALSE(is_utf8(std::string_view("a\0b", 3)));
}

TEST(Utf8, SixteenBitUnitsWithReplacement) {
  EXPECT_EQ(to_utf16("a\xC3\xA9"), u"a\u00E9");
  EXPECT_EQ(to_utf16("\xF0\x9F\x98\x80"), std::u16string({0xD83D, 0xDE00}));
  EXPECT_EQ(to_utf16("\xFFx"), std::u16string({0xFFFD, u'x'}));
}

TEST(EntryToken, MultipliesByThirtyThreeFromFiftyThreeEightyOne) {
  EXPECT_EQ(entry_token(""), 5381u);
  EXPECT_EQ(entry_token("b"), 5381u * 33 + 'b');
  EXPECT_EQ(entry_token("ab"), (5381u * 33 + 'a') * 33 + 'b');
}

TEST(EntryToken, KeepsTheLowThirtyOneBitsOfThirtyTwoBitArithmetic) {
  uint32_t hash = 5381;
  for (char c : std::string("a_rather_long_name.txt")) hash = hash * 33 + static_cast<unsigned char>(c);
  EXPECT_EQ(entry_token("a_rather_long_name.txt"), hash & 0x7FFFFFFF);
  EXPECT_LT(entry_token("a_rather_long_name.txt"), 0x80000000u);
}

TEST(EntryToken, HashesSixteenBitUnitsNotBytes) {
  EXPECT_EQ(entry_token("\xC3\xA9"), 5381u * 33 + 0xE9);  // U+00E9, two bytes, one unit
  // U+1F600 is the surrogate pair D83D DE00.
  EXPECT_EQ(entry_token("\xF0\x9F\x98\x80"), (5381u * 33 + 0xD83D) * 33 + 0xDE00);
  // A byte that is not UTF-8 counts as U+FFFD.
  EXPECT_EQ(entry_token("\xFF"), 5381u * 33 + 0xFFFD);
}

TEST(EntryToken, StopsAfterTwoHundredSixtyUnits) {
  EXPECT_EQ(entry_token(std::string(300, 'x')), entry_token(std::string(260, 'x')));
  EXPECT_NE(entry_token(std::string(260, 'x')), entry_token(std::string(259, 'x')));
}

TEST(OpenDirectory, RefusesMissingEmptyAndNullPaths) {
  errno = 0;
  EXPECT_EQ(open_directory(nullptr), nullptr);
  EXPECT_EQ(errno, ENOENT);
  errno = 0;
  EXPECT_EQ(open_directory(""), nullptr);
  EXPECT_EQ(errno, ENOENT);
  errno = 0;
  EXPECT_EQ(open_directory("/tmp/tove_no_such_folder/x"), nullptr);
  EXPECT_EQ(errno, ENOENT);
}

TEST(OpenDirectory, AFileIsNotADirectory) {
  Folder folder;
  folder.file("plain");
  errno = 0;
  EXPECT_EQ(open_directory(folder.at("plain").c_str()), nullptr);
  EXPECT_EQ(errno, ENOTDIR);
  EXPECT_EQ(crt_errno(errno), 20);
}

TEST(OpenDirectory, AccessDeniedIsReported) {
  if (geteuid() == 0) GTEST_SKIP() << "the superuser reads every folder";
  Folder folder;
  mkdir(folder.at("closed").c_str(), 0);
  errno = 0;
  EXPECT_EQ(open_directory(folder.at("closed").c_str()), nullptr);
  EXPECT_EQ(errno, EACCES);
}

TEST(OpenDirectory, RefusesPathsItCannotConvert) {
  errno = 0;
  EXPECT_EQ(open_directory(("/" + std::string(260, 'x')).c_str()), nullptr);
  EXPECT_EQ(errno, ENAMETOOLONG);
  errno = 0;
  EXPECT_EQ(open_directory("/tmp/\xFF"), nullptr);
  EXPECT_EQ(errno, EILSEQ);
}

TEST(ReadDirectory, ListsDotsFirstThenNamesInByteOrder) {
  Folder folder;
  for (const char* name : {"b", "a", "B", "a.txt"}) folder.file(name);
  mkdir(folder.at("sub").c_str(), 0755);
  ASSERT_EQ(symlink("a", folder.at("link").c_str()), 0);
  DirectoryStream* stream = open_directory(folder.path().c_str());
  ASSERT_NE(stream, nullptr);
  std::vector<Entry> entries = list(stream);
  EXPECT_EQ(read_directory(stream), nullptr) << "the end stays the end";
  EXPECT_EQ(close_directory(stream), 0);

  const std::vector<std::string> names = {".", "..", "B", "a", "a.txt", "b", "link", "sub"};
  ASSERT_EQ(entries.size(), names.size());
  for (size_t i = 0; i < names.size(); ++i) {
    EXPECT_EQ(entries[i].name, names[i]);
    EXPECT_EQ(entries[i].length, 296);
    EXPECT_EQ(entries[i].name_length, names[i].size());
    const uint32_t next = i + 1 < names.size() ? entry_token(names[i + 1]) : 2147483647u;
    EXPECT_EQ(entries[i].token, next) << names[i];
  }
  EXPECT_EQ(entries[0].type, kTypeDirectory);
  EXPECT_EQ(entries[1].type, kTypeDirectory);
  EXPECT_EQ(entries[3].type, kTypeFile);
  EXPECT_EQ(entries[6].type, kTypeLink);
  EXPECT_EQ(entries[7].type, kTypeDirectory);
}

TEST(ReadDirectory, ANameThatIsNotUtf8IsAQuestionMark) {
  Folder folder;
  folder.file("\xFF\xFE");
  folder.file("z");
  DirectoryStream* stream = open_directory(folder.path().c_str());
  ASSERT_NE(stream, nullptr);
  std::vector<Entry> entries = list(stream);
  close_directory(stream);
  ASSERT_EQ(entries.size(), 4u);
  // "z" < "\xFF\xFE" in byte order.
  EXPECT_EQ(entries[2].name, "z");
  EXPECT_EQ(entries[2].token, entry_token("\xFF\xFE"));
  EXPECT_EQ(entries[3].name, "?");
  EXPECT_EQ(entries[3].name_length, 1u);
  EXPECT_EQ(entries[3].type, 0u);
  EXPECT_EQ(entries[3].length, 0);
  EXPECT_EQ(entries[3].token, 0xFFFFFFFFu);
}

TEST(ReadDirectory, DevicesAreDevices) {
  DirectoryStream* stream = open_directory("/dev");
  ASSERT_NE(stream, nullptr);
  bool seen = false;
  for (const Entry& e : list(stream)) {
    if (e.name == "null") {
      seen = true;
      EXPECT_EQ(e.type, kTypeDevice);
    }
  }
  close_directory(stream);
  EXPECT_TRUE(seen);
}

TEST(ReadDirectory, ANullStreamGivesNothing) { EXPECT_EQ(read_directory(nullptr), nullptr); }

TEST(CloseDirectory, ANullStreamIsABadDescriptor) {
  errno = 0;
  EXPECT_EQ(close_directory(nullptr), -1);
  EXPECT_EQ(errno, EBADF);
}

TEST(DirectoryMembers, TakeAddressesAndAnswerAddresses) {
  Folder folder;
  folder.file("only");
  const std::string path = folder.path();
  CellRef stream = call("opendir", address(path.c_str()));
  std::optional<int64_t> handle = integer_of(stream);
  ASSERT_TRUE(handle.has_value());
  ASSERT_NE(*handle, 0);
  int64_t last = 0;
  for (int i = 0; i < 3; ++i) {
    CellRef entry = call("readdir", number(*handle));
    ASSERT_EQ(integer_of(entry), handle) << "readdir answers the stream's own entry record";
    last = *handle;
  }
  EXPECT_STREQ(reinterpret_cast<CrtDirent*>(last)->d_name, "only");
  EXPECT_EQ(integer_of(call("readdir", number(*handle))), 0);
  EXPECT_EQ(integer_of(call("closedir", number(*handle))), 0);
  EXPECT_EQ(integer_of(call("closedir", number(0))), -1);
  EXPECT_EQ(current_crt_errno(), 9);
}

TEST(DirectoryMembers, APathIsAnAddressNotAByteString) {
  EXPECT_EQ(text_of(call("opendir", bytes("/tmp"))), "Z");
  EXPECT_EQ(text_of(call("readdir", make_atom("[x]"))), "Z");
}

}  // namespace
