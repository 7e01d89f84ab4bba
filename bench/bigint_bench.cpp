// BigInt measurements: the thresholds of the recursive algorithms (each
// size timed with a range of thresholds; the fastest threshold over the
// sizes is the default in numbers/bigint.cpp) and whole computations.
//
// Threshold runs:  tove_bigint_bench --benchmark_filter=Threshold
// Whole runs:      tove_bigint_bench --benchmark_filter=Whole
#include <benchmark/benchmark.h>

#include <random>
#include <string>

#include "numbers/bigint.h"

namespace tove {
namespace {

std::string random_digits(size_t n, uint64_t seed) {
  std::mt19937_64 rng(seed);
  std::string s(n, '0');
  for (char& c : s) c = static_cast<char>('0' + rng() % 10);
  s[0] = '7';
  return s;
}

BigInt random_limbs(size_t limbs, uint64_t seed) {
  return BigInt::from_decimal(random_digits(limbs * kLimbDigits, seed));
}

// Sets one threshold for the life of a benchmark run.
struct Scope {
  BigIntThresholds saved = bigint_thresholds();
  explicit Scope(BigIntThresholds t) { set_bigint_thresholds(t); }
  ~Scope() { set_bigint_thresholds(saved); }
};

BigIntThresholds with_karatsuba(size_t mul, size_t sqr) {
  BigIntThresholds t = bigint_thresholds();
  t.karatsuba_mul = mul;
  t.karatsuba_sqr = sqr;
  // Keep Toom-3 out of the way so the Karatsuba crossover is what is timed.
  t.toom3_mul = 1u << 30;
  t.toom3_sqr = 1u << 30;
  return t;
}

// Args: operand size in limbs, Karatsuba threshold.
void ThresholdKaratsubaMul(benchmark::State& state) {
  size_t n = static_cast<size_t>(state.range(0));
  Scope scope(with_karatsuba(static_cast<size_t>(state.range(1)), bigint_thresholds().karatsuba_sqr));
  BigInt a = random_limbs(n, 1), b = random_limbs(n, 2);
  for (auto _ : state) benchmark::DoNotOptimize(multiply(a, b));
}

void ThresholdKaratsubaSqr(benchmark::State& state) {
  size_t n = static_cast<size_t>(state.range(0));
  Scope scope(with_karatsuba(bigint_thresholds().karatsuba_mul, static_cast<size_t>(state.range(1))));
  BigInt a = random_limbs(n, 3);
  for (auto _ : state) benchmark::DoNotOptimize(square(a));
}

// Args: operand size in limbs, Toom-3 threshold (for both products).
void ThresholdToom3(benchmark::State& state) {
  size_t n = static_cast<size_t>(state.range(0));
  BigIntThresholds t = bigint_thresholds();
  t.toom3_mul = static_cast<size_t>(state.range(1));
  t.toom3_sqr = static_cast<size_t>(state.range(1));
  Scope scope(t);
  BigInt a = random_limbs(n, 4), b = random_limbs(n, 5);
  for (auto _ : state) {
    benchmark::DoNotOptimize(multiply(a, b));
    benchmark::DoNotOptimize(square(a));
  }
}

// Args: dividend size in limbs (the divisor has half), recursion threshold.
void ThresholdDivision(benchmark::State& state) {
  size_t n = static_cast<size_t>(state.range(0));
  BigIntThresholds t = bigint_thresholds();
  t.recursive_div = static_cast<size_t>(state.range(1));
  Scope scope(t);
  BigInt a = random_limbs(n, 6), b = random_limbs(n / 2, 7);
  for (auto _ : state) benchmark::DoNotOptimize(divmod_trunc(a, b));
}

// Args: size in limbs, split threshold; one conversion each way.
void ThresholdBinarySplit(benchmark::State& state) {
  size_t n = static_cast<size_t>(state.range(0));
  BigIntThresholds t = bigint_thresholds();
  t.binary_split = static_cast<size_t>(state.range(1));
  Scope scope(t);
  BigInt a = random_limbs(n, 8);
  std::string bytes = a.to_binary_bytes();
  for (auto _ : state) {
    benchmark::DoNotOptimize(a.to_binary_bytes());
    benchmark::DoNotOptimize(BigInt::from_binary_bytes(bytes));
  }
}

void karatsuba_args(benchmark::internal::Benchmark* b) {
  for (int n : {16, 24, 32, 48, 64, 96, 128, 256})
    for (int t : {8, 12, 16, 20, 24, 32, 40, 48, 64, 1 << 20}) b->Args({n, t});
}

void toom_args(benchmark::internal::Benchmark* b) {
  for (int n : {96, 128, 192, 256, 384, 512, 1024, 2048})
    for (int t : {48, 64, 96, 128, 160, 192, 256, 384, 1 << 20}) b->Args({n, t});
}

void division_args(benchmark::internal::Benchmark* b) {
  for (int n : {64, 128, 256, 512, 1024, 4096})
    for (int t : {16, 24, 32, 48, 64, 96, 128, 1 << 20}) b->Args({n, t});
}

void split_args(benchmark::internal::Benchmark* b) {
  for (int n : {16, 32, 64, 128, 512, 2048})
    for (int t : {4, 8, 16, 24, 32, 48, 64, 1 << 20}) b->Args({n, t});
}

BENCHMARK(ThresholdKaratsubaMul)->Apply(karatsuba_args);
BENCHMARK(ThresholdKaratsubaSqr)->Apply(karatsuba_args);
BENCHMARK(ThresholdToom3)->Apply(toom_args);
BENCHMARK(ThresholdDivision)->Apply(division_args);
BENCHMARK(ThresholdBinarySplit)->Apply(split_args);

// 3^200000 by repeated squaring, written out in decimal.
void WholePow3To200000(benchmark::State& state) {
  for (auto _ : state) {
    std::string text = power(BigInt::from_int64(3), 200000).to_tove_text();
    benchmark::DoNotOptimize(text.data());
  }
}

// Two 100,000-digit integers read from text, multiplied, written back.
void WholeProduct100000Digits(benchmark::State& state) {
  std::string x = random_digits(100000, 11), y = random_digits(100000, 12);
  for (auto _ : state) {
    std::string text = multiply(BigInt::from_tove_text(x), BigInt::from_tove_text(y)).to_tove_text();
    benchmark::DoNotOptimize(text.data());
  }
}

// 10000! by multiplying 1, 2, ..., 10000 in turn, written in decimal.
void WholeFactorial10000Loop(benchmark::State& state) {
  for (auto _ : state) {
    BigInt f = BigInt::from_int64(1);
    for (int64_t i = 2; i <= 10000; ++i) f = multiply(f, BigInt::from_int64(i));
    std::string text = f.to_tove_text();
    benchmark::DoNotOptimize(text.data());
  }
}

// The same loop as a tove program runs it: every step reads the running
// product from its text atom and writes the new product back as text.
void WholeFactorial10000ThroughText(benchmark::State& state) {
  for (auto _ : state) {
    std::string f = "1";
    for (int64_t i = 2; i <= 10000; ++i)
      f = multiply(BigInt::from_tove_text(f), BigInt::from_int64(i)).to_tove_text();
    benchmark::DoNotOptimize(f.data());
  }
}

BigInt range_product(int64_t lo, int64_t hi) {
  if (hi - lo < 8) {
    BigInt p = BigInt::from_int64(lo);
    for (int64_t i = lo + 1; i <= hi; ++i) p = multiply(p, BigInt::from_int64(i));
    return p;
  }
  int64_t mid = lo + (hi - lo) / 2;
  return multiply(range_product(lo, mid), range_product(mid + 1, hi));
}

// 10000! by a balanced product tree, written in decimal.
void WholeFactorial10000Tree(benchmark::State& state) {
  for (auto _ : state) {
    std::string text = range_product(1, 10000).to_tove_text();
    benchmark::DoNotOptimize(text.data());
  }
}

// A 100,000-digit integer by a 50,000-digit one, quotient and remainder.
void WholeDivision100000By50000Digits(benchmark::State& state) {
  BigInt a = BigInt::from_decimal(random_digits(100000, 13));
  BigInt b = BigInt::from_decimal(random_digits(50000, 14));
  for (auto _ : state) benchmark::DoNotOptimize(divmod_trunc(a, b));
}

// 3^200000 to a binary magnitude and back.
void WholeBinaryConversions3To200000(benchmark::State& state) {
  BigInt v = power(BigInt::from_int64(3), 200000);
  for (auto _ : state) benchmark::DoNotOptimize(BigInt::from_binary_bytes(v.to_binary_bytes()));
}

BENCHMARK(WholePow3To200000)->Unit(benchmark::kMillisecond);
BENCHMARK(WholeProduct100000Digits)->Unit(benchmark::kMillisecond);
BENCHMARK(WholeFactorial10000Loop)->Unit(benchmark::kMillisecond);
BENCHMARK(WholeFactorial10000ThroughText)->Unit(benchmark::kMillisecond);
BENCHMARK(WholeFactorial10000Tree)->Unit(benchmark::kMillisecond);
BENCHMARK(WholeDivision100000By50000Digits)->Unit(benchmark::kMillisecond);
BENCHMARK(WholeBinaryConversions3To200000)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tove

BENCHMARK_MAIN();
