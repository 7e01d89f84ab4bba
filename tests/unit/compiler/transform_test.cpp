#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "cells/analysis.h"
#include "cells/print.h"
#include "cells/sharing.h"
#include "cells/tables.h"
#include "compiler/layout.h"
#include "compiler/letters.h"
#include "compiler/names.h"
#include "compiler/rewrite.h"
#include "leak_check.h"
#include "sexpr.h"

using namespace tove;
using test_support::sexpr;

namespace {

// Every pair written "(left right)", every atom as its text.
std::string show(const Cell* root) {
  std::string out;
  std::vector<std::pair<const Cell*, char>> work{{root, 0}};
  while (!work.empty()) {
    auto [cell, mark] = work.back();
    work.pop_back();
    if (!cell) {
      out.push_back(mark);
    } else if (is_atom(cell)) {
      out.append(atom_text(cell));
    } else {
      out.push_back('(');
      work.push_back({nullptr, ')'});
      work.push_back({pair_right(cell), 0});
      work.push_back({nullptr, ' '});
      work.push_back({pair_left(cell), 0});
    }
  }
  return out;
}

std::string show(const CellRef& c) { return show(c.get()); }

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// A body binding the given names, innermost last: \n1\n2...\0
std::string lambdas(const std::vector<std::string>& names) {
  std::string text;
  for (const std::string& name : names) text += "((\\ " + name + ") ";
  text += "0";
  text.append(names.size(), ')');
  return text;
}

class Transform : public LeakCheck {};

TEST(Layout, TextIsExact) {
  EXPECT_EQ(build_layout_text(),
            "[[addrinfo[ai_flags[4]][ai_family[4]][ai_socktype[4]][ai_protocol[4]][ai_addrlen[8]]"
            "[ai_canonname[8]][ai_addr[8]][ai_next[8]]][dirent[d_ino[4]][d_off[4]][d_reclen[2]][[6]]"
            "[d_namlen[8]][d_type[4]][d_name[261]][[7]]][fd_set[[520]]][size_t[[8]]][socklen_t[[4]]]"
            "[time_t[[8]]]]");
}

TEST_F(Transform, NameListsStaySortedWithoutDuplicates) {
  CellRef a = name_list_insert(empty_name_list().get(), "count");
  a = name_list_insert(a.get(), "acc");
  a = name_list_insert(a.get(), "ac");
  a = name_list_insert(a.get(), "acc");
  EXPECT_EQ(show(a), "(ac (acc (count ())))");
  CellRef b = name_list_insert(name_list_singleton("\xC0").get(), "b");
  b = name_list_insert(b.get(), "Z");
  CellRef both = name_list_union(a.get(), b.get());
  EXPECT_EQ(show(both), "(Z (ac (acc (b (count (\xC0 ()))))))");
  EXPECT_EQ(name_list_length(both.get()), 6u);
  EXPECT_TRUE(name_list_contains(both.get(), "acc"));
  EXPECT_FALSE(name_list_contains(both.get(), "a"));
  CellRef fewer = name_list_remove(both.get(), "acc");
  EXPECT_EQ(show(fewer), "(Z (ac (b (count (\xC0 ())))))");
  EXPECT_EQ(show(name_list_remove(fewer.get(), "nothing")), show(fewer));
  EXPECT_EQ(name_list_length(empty_name_list().get()), 0u);
  EXPECT_EQ(name_list_names(both.get()).size(), 6u);
}

TEST_F(Transform, QuoteCarriesPrintedSourceAndValue) {
  CellRef body = sexpr("(f (` (g x)))");
  CellRef expanded = expand_quotes(body.get());
  EXPECT_EQ(show(expanded), "(f ((V [(g x)]) (g x)))");
  // The source is printed unexpanded; the value is expanded.
  CellRef nested = sexpr("(` (` y))");
  EXPECT_EQ(show(expand_quotes(nested.get())), "((V [`y]) ((V [y]) y))");
  // Nothing to expand: the very same cell comes back.
  CellRef plain = sexpr("(f (g x))");
  EXPECT_EQ(expand_quotes(plain.get()).get(), plain.get());
}

TEST_F(Transform, PairKeyLetBecomesThreeLets) {
  CellRef body = sexpr("((({ (p [+])) y) z)");
  EXPECT_EQ(show(expand_pair_lets(body.get())), "((({ [+]) y) ((({ p) (+ K)) ((({ [+]) (+ H)) z)))");
  // Expansion works bottom-up: a pair let inside the value is expanded too.
  CellRef inner = sexpr("((({ (a b)) ((({ (c d)) v) c)) b)");
  EXPECT_EQ(show(expand_pair_lets(inner.get())),
            "((({ b) ((({ d) v) ((({ c) (d K)) ((({ d) (d H)) c)))) ((({ a) (b K)) ((({ b) (b H)) b)))");
  // A key holding a pair, or a non-definable name, is left for the checks.
  CellRef deeper = sexpr("((({ ((a b) c)) y) z)");
  EXPECT_EQ(expand_pair_lets(deeper.get()).get(), deeper.get());
  CellRef number = sexpr("((({ (a 1)) y) z)");
  EXPECT_EQ(expand_pair_lets(number.get()).get(), number.get());
}

TEST_F(Transform, BinderListsSplitShortAndLong) {
  CellRef body = sexpr("((\\ count) ((({ a) ((\\ K) k)) (f ((\\ acc) (({ b) x)))))");
  EXPECT_EQ(show(long_binders(body.get())), "(K (acc (count ())))");
  EXPECT_EQ(show(short_binders(body.get())), "(a (b ()))");
  CellRef none = sexpr("(f x)");
  EXPECT_TRUE(is_empty_name_list(long_binders(none.get()).get()));
}

TEST_F(Transform, RenameIgnoresScopesAndNormalizesKeys) {
  CellRef body = sexpr("(((\\ foo) (foo x)) (foo ((\\ [+]) +)))");
  EXPECT_EQ(show(rename_local(body.get(), "foo", 'c')), "(((\\ c) (c x)) (c ((\\ +) +)))");
  // A bracketed binder and the operator it binds take the letter together.
  EXPECT_EQ(show(rename_local(body.get(), "[+]", 'd')), "(((\\ foo) (foo x)) (foo ((\\ d) d)))");
  CellRef let = sexpr("((({ foo) foo) (g foo))");
  EXPECT_EQ(show(rename_local(let.get(), "foo", 'e')), "((({ e) e) (g e))");
  // Parts without the name are kept as they are.
  CellRef mixed = sexpr("((g (h 1)) foo)");
  CellRef renamed = rename_local(mixed.get(), "foo", 'a');
  EXPECT_EQ(pair_left(renamed.get()), pair_left(mixed.get()));
}

TEST_F(Transform, LettersFollowByteOrderOfNames) {
  CellRef body = sexpr("((\\ count) ((\\ a) ((\\ acc) ((\\ b) (count acc a b)))))");
  ASSERT_TRUE(assign_letters("f", body, LetterLog::skip));
  EXPECT_EQ(show(body), "((\\ d) ((\\ a) ((\\ c) ((\\ b) (((d c) a) b)))))");
}

TEST_F(Transform, ShortBindersOnlyLeaveTheBodyAlone) {
  CellRef body = sexpr("((\\ a) ((\\ b) (a b)))");
  Cell* before = body.get();
  ASSERT_TRUE(assign_letters("f", body, LetterLog::skip));
  EXPECT_EQ(body.get(), before);
}

TEST_F(Transform, TwentySixLettersAtMost) {
  std::vector<std::string> names;
  for (char c = 'a'; c < 'a' + 20; ++c) names.emplace_back(1, c);
  for (const char* name : {"one", "two", "three", "four", "five", "six"}) names.emplace_back(name);
  CellRef fits = sexpr(lambdas(names));
  ASSERT_TRUE(assign_letters("f", fits, LetterLog::skip));
  EXPECT_TRUE(is_empty_name_list(long_binders(fits.get()).get()));
  EXPECT_EQ(name_list_length(short_binders(fits.get()).get()), 26u);

  names.emplace_back("seven");
  CellRef too_many = sexpr(lambdas(names));
  Cell* before = too_many.get();
  EXPECT_FALSE(assign_letters("f", too_many, LetterLog::skip));
  EXPECT_EQ(too_many.get(), before);
}

TEST(Log, LineAppendedWhenLongNamesAreRenamed) {
  const std::string name = "log_probe_" + std::to_string(::getpid());
  CellRef body = sexpr("((\\ count) count)");
  const std::string printed = print_expression(body.get());
  ASSERT_TRUE(assign_letters(name, body, LetterLog::write));
  struct stat info;
  if (::lstat(kLogPath, &info) != 0 || !S_ISREG(info.st_mode))
    GTEST_SKIP() << kLogPath << " is not a plain file";
  const std::string line = "First " + name + ": " + printed + "\n";
  EXPECT_NE(read_file(kLogPath).find(line), std::string::npos);
}

TEST(Log, AppendsAndNeverFollowsSymbolicLinks) {
  char dir_template[] = "/tmp/tove_log_XXXXXX";
  ASSERT_NE(::mkdtemp(dir_template), nullptr);
  const std::string dir = dir_template;
  const std::string file = dir + "/log";
  append_log_line(file.c_str(), "one\n");
  append_log_line(file.c_str(), "two\n");
  EXPECT_EQ(read_file(file), "one\ntwo\n");

  const std::string target = dir + "/target";
  const std::string link = dir + "/link";
  { std::ofstream(target) << "kept\n"; }
  ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);
  append_log_line(link.c_str(), "dropped\n");
  EXPECT_EQ(read_file(target), "kept\n");
  // A log that cannot be opened is skipped silently.
  append_log_line((dir + "/missing/log").c_str(), "dropped\n");

  std::remove(link.c_str());
  std::remove(target.c_str());
  std::remove(file.c_str());
  ::rmdir(dir.c_str());
}

TEST(Log, ANewLogIsPrivateAndAnOldOneKeepsItsMode) {
  char dir_template[] = "/tmp/tove_log_XXXXXX";
  ASSERT_NE(::mkdtemp(dir_template), nullptr);
  const std::string dir = dir_template;
  // With no umask at all, the mode is the one the writer asks for.
  const mode_t umask_before = ::umask(0);

  const std::string fresh = dir + "/fresh";
  append_log_line(fresh.c_str(), "one\n");
  struct stat info;
  ASSERT_EQ(::stat(fresh.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0600u);

  const std::string shared = dir + "/shared";
  ASSERT_EQ(::close(::open(shared.c_str(), O_WRONLY | O_CREAT, 0644)), 0);
  ASSERT_EQ(::chmod(shared.c_str(), 0644), 0);
  append_log_line(shared.c_str(), "two\n");
  ASSERT_EQ(::stat(shared.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0644u);
  EXPECT_EQ(read_file(shared), "two\n");

  ::umask(umask_before);
  std::remove(fresh.c_str());
  std::remove(shared.c_str());
  ::rmdir(dir.c_str());
}

TEST(Log, SkipsAFifoAFolderAndALinkWithoutWaiting) {
  char dir_template[] = "/tmp/tove_log_XXXXXX";
  ASSERT_NE(::mkdtemp(dir_template), nullptr);
  const std::string dir = dir_template;

  // A FIFO nobody reads: opening it for writing would wait for a reader.
  const std::string fifo = dir + "/fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  append_log_line(fifo.c_str(), "dropped\n");

  // A FIFO with a reader: the open succeeds, but the line is not written.
  const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  append_log_line(fifo.c_str(), "dropped\n");
  char byte;
  EXPECT_LE(::read(reader, &byte, 1), 0);
  ::close(reader);

  // A folder, and a link to the FIFO.
  const std::string folder = dir + "/folder";
  ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
  append_log_line(folder.c_str(), "dropped\n");
  struct stat info;
  ASSERT_EQ(::lstat(folder.c_str(), &info), 0);
  EXPECT_TRUE(S_ISDIR(info.st_mode));
  const std::string link = dir + "/link";
  ASSERT_EQ(::symlink(fifo.c_str(), link.c_str()), 0);
  append_log_line(link.c_str(), "dropped\n");

  std::remove(link.c_str());
  ::rmdir(folder.c_str());
  std::remove(fifo.c_str());
  ::rmdir(dir.c_str());
}

// Sharing consults the definition table through node analysis when it
// prunes, so these tests give the names they use a definition.
class Sharing : public ::testing::Test {
 protected:
  void SetUp() override {
    definitions().clear();
    definitions().set("plus", sexpr("((\\ a) ((\\ b) Z))"));
    definitions().set("V", sexpr("((\\ a) ((\\ b) ((\\ c) ((c a) b))))"));
    definitions().set("Z", sexpr("((\\ a) Z)"));
    clear_sharing_set();
  }
  void TearDown() override {
    clear_sharing_set();
    definitions().clear();
  }
};

TEST_F(Sharing, EqualPartsOfDifferentBodiesBecomeOneCell) {
  CellRef first = sexpr("(V (plus 1) (plus 2))");
  CellRef second = sexpr("(plus 1 (plus 1))");
  CellRef a = share_body(first.get());
  CellRef b = share_body(second.get());
  Cell* plus_one = pair_right(pair_left(a.get()));
  EXPECT_EQ(show(plus_one), "(plus 1)");
  EXPECT_EQ(pair_left(b.get()), plus_one);
  EXPECT_EQ(pair_right(b.get()), plus_one);
  // The second "plus" atom of the first body was replaced by the first, so
  // the body was rebuilt; a body whose parts are all members is kept.
  EXPECT_NE(a.get(), first.get());
  EXPECT_EQ(share_body(a.get()).get(), a.get());
  // A structurally equal body comes back as the member.
  CellRef again = sexpr("(V (plus 1) (plus 2))");
  EXPECT_EQ(share_body(again.get()).get(), a.get());
}

TEST_F(Sharing, PruneKeepsFinishedValuesOnly) {
  CellRef body = share_body(sexpr("(V (plus 1 2) 3)").get());
  Cell* redex = pair_right(pair_left(body.get()));
  EXPECT_TRUE(sharing_set_holds(redex));
  prune_sharing_set();
  EXPECT_FALSE(sharing_set_holds(redex));
  EXPECT_FALSE(sharing_set_holds(pair_left(body.get())));  // pending
  EXPECT_TRUE(sharing_set_holds(body.get()) == is_done(body.get()));
  EXPECT_TRUE(sharing_set_holds(pair_left(redex)));  // (plus 1)
  for (const char* atom : {"plus", "1", "2", "3", "V"}) {
    CellRef probe = make_atom(atom);
    EXPECT_NE(share_value(probe.share()).get(), probe.get()) << atom;
  }
}

TEST_F(Sharing, ShareValueHandsOutOneCellPerValue) {
  CellRef first = share_value(sexpr("(V [a] (plus 1))"));
  CellRef second = share_value(sexpr("(V [a] (plus 1))"));
  EXPECT_EQ(first.get(), second.get());
  CellRef other = share_value(sexpr("(V [a] (plus 2))"));
  EXPECT_NE(other.get(), first.get());
  const size_t size = sharing_set_size();
  EXPECT_EQ(share_value(first.share()).get(), first.get());
  EXPECT_EQ(sharing_set_size(), size);
}

// Chains a million deep, leaning left ((+ (...)) 1) and right ((+ 1) (...)).
CellRef deep_chain(size_t depth, bool leans_left) {
  CellRef plus = make_atom("plus");
  CellRef one = make_atom("1");
  CellRef chain = one.share();
  for (size_t i = 0; i < depth; ++i) {
    chain = leans_left ? make_pair(make_pair(plus.share(), std::move(chain)), one.share())
                       : make_pair(make_pair(plus.share(), one.share()), std::move(chain));
  }
  return chain;
}

TEST_F(Sharing, MillionDeepChainsShareAndTransform) {
  constexpr size_t kDepth = 1000000;
  for (bool leans_left : {true, false}) {
    CellRef chain = deep_chain(kDepth, leans_left);
    CellRef quoted = make_pair(make_atom("`"), chain.share());
    CellRef expanded = expand_quotes(quoted.get());
    EXPECT_EQ(pair_right(expanded.get()), chain.get());
    EXPECT_EQ(expand_pair_lets(chain.get()).get(), chain.get());
    CellRef bound = make_pair(make_pair(make_atom("\\"), make_atom("plus")), chain.share());
    EXPECT_EQ(show(long_binders(bound.get())), "(plus ())");
    CellRef renamed = rename_local(bound.get(), "plus", 'p');
    EXPECT_TRUE(is_empty_name_list(long_binders(renamed.get()).get()));
    CellRef shared = share_body(chain.get());
    if (leans_left) {
      EXPECT_EQ(shared.get(), chain.get());
    } else {
      // Each level made its own (plus 1); they are now one cell.
      EXPECT_EQ(pair_left(shared.get()), pair_left(pair_right(shared.get())));
      EXPECT_NE(pair_left(chain.get()), pair_left(pair_right(chain.get())));
    }
    // Every level is one member, plus its (plus x) part and the two atoms;
    // leaning right, every (plus 1) is the same member.
    EXPECT_EQ(sharing_set_size(), leans_left ? 2 * kDepth + 2 : kDepth + 3);
    prune_sharing_set();
    clear_sharing_set();
  }
}

}  // namespace
