#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "platform/SharedVariant.h"
#include "platform/Variant.h"

namespace {

// A VARIANT that frees itself.
struct Var {
  VARIANT v;
  Var() { VariantInit(&v); }
  ~Var() { VariantClear(&v); }
  Var(const Var&) = delete;
  Var& operator=(const Var&) = delete;
};

void SetText(VARIANT& v, const char* text) {
  VariantClear(&v);
  v.vt = VT_BSTR;
  v.bstrVal = SysAllocString(text);
}

HRESULT FromText(const char* text, VARTYPE vt, Var& out) {
  Var in;
  SetText(in.v, text);
  return VariantChangeType(&out.v, &in.v, 0, vt);
}

HRESULT FromReal(double value, VARTYPE vt, Var& out) {
  Var in;
  in.v.vt = VT_R8;
  in.v.dblVal = value;
  return VariantChangeType(&out.v, &in.v, 0, vt);
}

HRESULT FromBool(VARIANT_BOOL value, VARTYPE vt, Var& out) {
  Var in;
  in.v.vt = VT_BOOL;
  in.v.boolVal = value;
  return VariantChangeType(&out.v, &in.v, 0, vt);
}

std::string TextOf(const VARIANT& v) {
  return v.vt == VT_BSTR && v.bstrVal ? v.bstrVal : "<not text>";
}

TEST(VariantLifecycle, InitClearCopyAndTextOwnership) {
  Var a;
  EXPECT_EQ(a.v.vt, VT_EMPTY);
  SetText(a.v, "pump 7");
  Var b;
  ASSERT_EQ(VariantCopy(&b.v, &a.v), S_OK);
  ASSERT_EQ(b.v.vt, VT_BSTR);
  EXPECT_NE(b.v.bstrVal, a.v.bstrVal) << "a copy owns text of its own";
  EXPECT_STREQ(b.v.bstrVal, "pump 7");
  EXPECT_EQ(VariantClear(&a.v), S_OK);
  EXPECT_EQ(a.v.vt, VT_EMPTY);
  EXPECT_STREQ(b.v.bstrVal, "pump 7");
  EXPECT_EQ(SysAllocString(nullptr), nullptr);

  // The shared copy a value crosses threads in outlives its original.
  std::shared_ptr<VARIANT> shared = SharedVariantCopy(&b.v);
  VariantClear(&b.v);
  ASSERT_EQ(shared->vt, VT_BSTR);
  EXPECT_STREQ(shared->bstrVal, "pump 7");
  EXPECT_EQ(SharedVariantCopy(nullptr)->vt, VT_EMPTY);
}

TEST(VariantLifecycle, ConversionInPlaceAndFailureLeavesTheValue) {
  Var v;
  SetText(v.v, " 42 ");
  ASSERT_EQ(VariantChangeType(&v.v, &v.v, 0, VT_I4), S_OK);
  EXPECT_EQ(v.v.vt, VT_I4);
  EXPECT_EQ(v.v.lVal, 42);

  SetText(v.v, "forty-two");
  EXPECT_EQ(VariantChangeType(&v.v, &v.v, 0, VT_I4), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(v.v.vt, VT_BSTR);
  EXPECT_STREQ(v.v.bstrVal, "forty-two");

  Var out;
  out.v.vt = VT_I2;
  out.v.iVal = 7;
  EXPECT_EQ(FromReal(1e6, VT_I2, out), DISP_E_OVERFLOW);
  EXPECT_EQ(out.v.vt, VT_I2);
  EXPECT_EQ(out.v.iVal, 7) << "a failed conversion leaves the destination alone";
}

TEST(VariantLifecycle, UnknownTypesAreRefused) {
  Var in, out;
  in.v.vt = 9;  // not one of the types a client can send
  EXPECT_EQ(VariantChangeType(&out.v, &in.v, 0, VT_I4), DISP_E_BADVARTYPE);
  in.v.vt = VT_I4;
  EXPECT_EQ(VariantChangeType(&out.v, &in.v, 0, 64), DISP_E_BADVARTYPE);
  EXPECT_EQ(VariantChangeType(nullptr, &in.v, 0, VT_I4), E_INVALIDARG);
}

TEST(VariantIntegers, OutOfRangeAndNegativeToUnsignedOverflow) {
  Var out;
  EXPECT_EQ(FromReal(127, VT_I1, out), S_OK);
  EXPECT_EQ(FromReal(128, VT_I1, out), DISP_E_OVERFLOW);
  EXPECT_EQ(FromReal(-32768, VT_I2, out), S_OK);
  EXPECT_EQ(out.v.iVal, -32768);
  EXPECT_EQ(FromReal(-32769, VT_I2, out), DISP_E_OVERFLOW);
  EXPECT_EQ(FromReal(65535, VT_UI2, out), S_OK);
  EXPECT_EQ(FromReal(65536, VT_UI2, out), DISP_E_OVERFLOW);
  EXPECT_EQ(FromReal(-1, VT_UINT, out), DISP_E_OVERFLOW);
  EXPECT_EQ(FromReal(-1, VT_UI8, out), DISP_E_OVERFLOW);
  EXPECT_EQ(FromReal(4294967295.0, VT_UI4, out), S_OK);
  EXPECT_EQ(out.v.ulVal, 4294967295u);
  EXPECT_EQ(FromReal(4294967296.0, VT_UINT, out), DISP_E_OVERFLOW);
  EXPECT_EQ(FromReal(9223372036854775808.0, VT_I8, out), DISP_E_OVERFLOW);
  EXPECT_EQ(FromReal(std::nan(""), VT_I4, out), DISP_E_OVERFLOW);
  EXPECT_EQ(FromReal(std::numeric_limits<double>::infinity(), VT_I4, out), DISP_E_OVERFLOW);

  Var in;
  in.v.vt = VT_I4;
  in.v.lVal = -5;
  EXPECT_EQ(VariantChangeType(&out.v, &in.v, 0, VT_UI1), DISP_E_OVERFLOW);
  in.v.vt = VT_UI8;
  in.v.ullVal = 0xFFFFFFFFFFFFFFFFull;
  EXPECT_EQ(VariantChangeType(&out.v, &in.v, 0, VT_I8), DISP_E_OVERFLOW);
  ASSERT_EQ(VariantChangeType(&out.v, &in.v, 0, VT_UI8), S_OK);
  EXPECT_EQ(out.v.ullVal, 0xFFFFFFFFFFFFFFFFull);
  in.v.vt = VT_I8;
  in.v.llVal = std::numeric_limits<int64_t>::min();
  ASSERT_EQ(VariantChangeType(&out.v, &in.v, 0, VT_R8), S_OK);
  EXPECT_EQ(out.v.dblVal, -9223372036854775808.0);
}

TEST(VariantIntegers, RealsRoundHalfToEven) {
  Var out;
  const struct {
    double in;
    int32_t want;
  } cases[] = {{0.5, 0},   {1.5, 2},    {2.5, 2},    {3.5, 4},   {-0.5, 0},        {-1.5, -2},
               {-2.5, -2}, {2.4999, 2}, {2.5001, 3}, {-2.6, -3}, {1e9, 1000000000}};
  for (const auto& c : cases) {
    ASSERT_EQ(FromReal(c.in, VT_INT, out), S_OK) << c.in;
    EXPECT_EQ(out.v.intVal, c.want) << c.in;
  }
  EXPECT_EQ(FromReal(255.5, VT_UI1, out), DISP_E_OVERFLOW) << "rounds to 256 first";
  EXPECT_EQ(FromReal(254.5, VT_UI1, out), S_OK);
  EXPECT_EQ(out.v.bVal, 254);
  EXPECT_EQ(FromReal(-0.4, VT_UINT, out), S_OK) << "rounds to zero, not negative";
  EXPECT_EQ(out.v.uintVal, 0u);
}

TEST(VariantBool, TrueIsAllBitsSet) {
  Var out;
  ASSERT_EQ(FromBool(VARIANT_TRUE, VT_I4, out), S_OK);
  EXPECT_EQ(out.v.lVal, -1);
  ASSERT_EQ(FromBool(VARIANT_TRUE, VT_I1, out), S_OK);
  EXPECT_EQ(out.v.cVal, -1);
  ASSERT_EQ(FromBool(VARIANT_TRUE, VT_UI2, out), S_OK);
  EXPECT_EQ(out.v.uiVal, 65535);
  ASSERT_EQ(FromBool(VARIANT_TRUE, VT_UINT, out), S_OK);
  EXPECT_EQ(out.v.uintVal, 0xFFFFFFFFu);
  ASSERT_EQ(FromBool(VARIANT_TRUE, VT_R4, out), S_OK);
  EXPECT_EQ(out.v.fltVal, -1.0f);
  ASSERT_EQ(FromBool(VARIANT_FALSE, VT_UI2, out), S_OK);
  EXPECT_EQ(out.v.uiVal, 0);
  ASSERT_EQ(FromBool(VARIANT_TRUE, VT_BSTR, out), S_OK);
  EXPECT_EQ(TextOf(out.v), "-1");
}

TEST(VariantBool, NumbersAndTextBecomeBool) {
  Var out;
  ASSERT_EQ(FromReal(0.25, VT_BOOL, out), S_OK);
  EXPECT_EQ(out.v.boolVal, VARIANT_TRUE) << "any non-zero value is true";
  ASSERT_EQ(FromReal(0.0, VT_BOOL, out), S_OK);
  EXPECT_EQ(out.v.boolVal, VARIANT_FALSE);
  const struct {
    const char* text;
    VARIANT_BOOL want;
  } cases[] = {{"True", VARIANT_TRUE}, {"false", VARIANT_FALSE}, {" TRUE ", VARIANT_TRUE},
               {"1", VARIANT_TRUE},    {"0", VARIANT_FALSE},     {"-3.5", VARIANT_TRUE}};
  for (const auto& c : cases) {
    ASSERT_EQ(FromText(c.text, VT_BOOL, out), S_OK) << c.text;
    EXPECT_EQ(out.v.boolVal, c.want) << c.text;
  }
  EXPECT_EQ(FromText("yes", VT_BOOL, out), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(FromText("Truex", VT_BOOL, out), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(FromText("True", VT_I4, out), DISP_E_TYPEMISMATCH) << "only BOOL reads the words";
}

TEST(VariantText, NumbersAreParsedWithBlanksAround) {
  Var out;
  ASSERT_EQ(FromText("12", VT_INT, out), S_OK);
  EXPECT_EQ(out.v.intVal, 12);
  ASSERT_EQ(FromText("\t -7 \n", VT_I2, out), S_OK);
  EXPECT_EQ(out.v.iVal, -7);
  ASSERT_EQ(FromText("+2.5", VT_I4, out), S_OK);
  EXPECT_EQ(out.v.lVal, 2) << "half to even from text too";
  ASSERT_EQ(FromText("1.5e2", VT_R4, out), S_OK);
  EXPECT_EQ(out.v.fltVal, 150.0f);
  ASSERT_EQ(FromText(".5", VT_R8, out), S_OK);
  EXPECT_EQ(out.v.dblVal, 0.5);
  ASSERT_EQ(FromText("18446744073709551615", VT_UI8, out), S_OK);
  EXPECT_EQ(out.v.ullVal, 18446744073709551615ull) << "integer text stays exact";
  ASSERT_EQ(FromText("-9223372036854775808", VT_I8, out), S_OK);
  EXPECT_EQ(out.v.llVal, std::numeric_limits<int64_t>::min());
  EXPECT_EQ(FromText("70000", VT_I2, out), DISP_E_OVERFLOW);
  EXPECT_EQ(FromText("-1", VT_UINT, out), DISP_E_OVERFLOW);
  EXPECT_EQ(FromText("1e39", VT_R4, out), DISP_E_OVERFLOW);
  EXPECT_EQ(FromText("1e999", VT_R8, out), DISP_E_OVERFLOW);

  for (const char* bad :
       {"", "   ", "12abc", "1 2", "0x10", "inf", "nan", "-", ".", "1e", "1,5", "e5"})
    EXPECT_EQ(FromText(bad, VT_R8, out), DISP_E_TYPEMISMATCH) << '"' << bad << '"';
}

TEST(VariantText, NumbersBecomeText) {
  Var in, out;
  in.v.vt = VT_I2;
  in.v.iVal = -12;
  ASSERT_EQ(VariantChangeType(&out.v, &in.v, 0, VT_BSTR), S_OK);
  EXPECT_EQ(TextOf(out.v), "-12");
  in.v.vt = VT_UI8;
  in.v.ullVal = 18446744073709551615ull;
  ASSERT_EQ(VariantChangeType(&out.v, &in.v, 0, VT_BSTR), S_OK);
  EXPECT_EQ(TextOf(out.v), "18446744073709551615");
  in.v.vt = VT_R4;
  in.v.fltVal = 1.5f;
  ASSERT_EQ(VariantChangeType(&out.v, &in.v, 0, VT_BSTR), S_OK);
  EXPECT_EQ(TextOf(out.v), "1.5");
  in.v.fltVal = 0.1f;
  ASSERT_EQ(VariantChangeType(&out.v, &in.v, 0, VT_BSTR), S_OK);
  EXPECT_EQ(TextOf(out.v), "0.1") << "seven significant digits for single precision";
  in.v.vt = VT_R8;
  in.v.dblVal = 1e20;
  ASSERT_EQ(VariantChangeType(&out.v, &in.v, 0, VT_BSTR), S_OK);
  EXPECT_EQ(TextOf(out.v), "1E+20");
  in.v.vt = VT_EMPTY;
  ASSERT_EQ(VariantChangeType(&out.v, &in.v, 0, VT_BSTR), S_OK);
  EXPECT_EQ(TextOf(out.v), "");
}

TEST(VariantSpecial, EmptyAndNull) {
  Var in, out;
  ASSERT_EQ(VariantChangeType(&out.v, &in.v, 0, VT_R4), S_OK);
  EXPECT_EQ(out.v.fltVal, 0.0f) << "empty reads as zero";
  in.v.vt = VT_NULL;
  EXPECT_EQ(VariantChangeType(&out.v, &in.v, 0, VT_I4), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(VariantChangeType(&out.v, &in.v, 0, VT_BOOL), DISP_E_TYPEMISMATCH);
  ASSERT_EQ(VariantChangeType(&out.v, &in.v, 0, VT_NULL), S_OK);
  EXPECT_EQ(out.v.vt, VT_NULL);
  in.v.vt = VT_I4;
  in.v.lVal = 3;
  EXPECT_EQ(VariantChangeType(&out.v, &in.v, 0, VT_NULL), DISP_E_TYPEMISMATCH);
}

TEST(VariantReal, SinglePrecisionRangeIsChecked) {
  Var out;
  EXPECT_EQ(FromReal(3.5e38, VT_R4, out), DISP_E_OVERFLOW);
  EXPECT_EQ(FromReal(-3.5e38, VT_R4, out), DISP_E_OVERFLOW);
  ASSERT_EQ(FromReal(1.0 / 3.0, VT_R4, out), S_OK);
  EXPECT_EQ(out.v.fltVal, 1.0f / 3.0f);
}

// A DATE counts days from 1899-12-30; FILETIME ticks count 100 ns from
// 1601-01-01 UTC. Dates convert as their number of days.
TEST(VariantDate, DaysAgainstTicksAndText) {
  struct Case {
    int64_t ticks;
    DATE date;
    const char* text;
  };
  const Case cases[] = {
      {0, -109205.0, "1601-01-01T00:00:00.000"},
      {94353120000000000LL, 0.0, "1899-12-30T00:00:00.000"},
      {94353120000000000LL + 36000000000LL, 1.0 / 24, "1899-12-30T01:00:00.000"},
      // 2023-11-14T22:13:20.123Z
      {133444736001230000LL, 45244.92592734954, "2023-11-14T22:13:20.123"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_NEAR(VariantTimeFromFileTime(c.ticks), c.date, 1e-9);
    EXPECT_NEAR(static_cast<double>(FileTimeFromVariantTime(c.date)), static_cast<double>(c.ticks),
                100.0);
    Var date;
    date.v.vt = VT_DATE;
    date.v.date = c.date;
    Var text;
    ASSERT_EQ(VariantChangeType(&text.v, &date.v, 0, VT_BSTR), S_OK);
    EXPECT_STREQ(text.v.bstrVal, c.text);
    Var days;
    ASSERT_EQ(VariantChangeType(&days.v, &date.v, 0, VT_R8), S_OK);
    EXPECT_EQ(days.v.dblVal, c.date);
    Var back;
    ASSERT_EQ(FromReal(c.date, VT_DATE, back), S_OK);
    EXPECT_EQ(back.v.date, c.date);
  }
  EXPECT_EQ(FileTimeFromVariantTime(-200000.0), 0) << "before 1601 is no time";
}

}  // namespace
