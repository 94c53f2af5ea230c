// Money and number text in a client locale with a decimal comma
// (de_de.8859-1): the number scanner's road of zel_gl_convert_double.
#include "tests/sqltypes/money_oracle.h"

namespace {

class MoneyTextDeTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    sqltest::UseBuildTree();
    setenv("CLIENT_LOCALE", "de_de.8859-1", 1);
    unsetenv("IGNORE_UNDERFLOW");
    ASSERT_EQ(rglinit(), 0);
  }
};

TEST_F(MoneyTextDeTest, UnderflowFollowsIgnoreUnderflow) {
  double x = 7;
  ASSERT_EQ(zel_gl_convert_double(&x, "1e-400", "%lf"), 0);
  EXPECT_EQ(x, 0);
  ASSERT_EQ(zel_gl_convert_double(&x, "1234,5", "%lf"), 0);
  EXPECT_EQ(x, 1234.5);
  EXPECT_EQ(zel_gl_convert_double(&x, "12x", "%lf"), -1213);
  sqltest::OnNewThread([] {
    setenv("IGNORE_UNDERFLOW", "0", 1);
    double y = 7;
    EXPECT_EQ(zel_gl_convert_double(&y, "1e-400", "%lf"), -1223);
  });
  unsetenv("IGNORE_UNDERFLOW");
}

TEST_F(MoneyTextDeTest, AgainstTheCLibrary) {
  moneytest::GlibcLocale glibc("de_DE", "ISO-8859-1");
  ASSERT_NE(glibc.get(), static_cast<locale_t>(nullptr));
  moneytest::MoneyAgainstStrfmon(glibc.get(), 400);
  moneytest::DoublesAgainstTheCLibrary(glibc.get(), 3000);
}

}  // namespace
