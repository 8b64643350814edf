// The fixed messages are the GBK encoding of their texts, byte for byte.
// iconv converts the UTF-8 text here independently of the escapes in the table.
#include "api/messages.h"

#include <gtest/gtest.h>
#include <iconv.h>

#include <set>
#include <string>

namespace {

std::string Gbk(const std::string &utf8) {
  iconv_t converter = iconv_open("GBK", "UTF-8");
  EXPECT_NE(converter, reinterpret_cast<iconv_t>(-1));
  std::string in = utf8;
  std::string out(in.size() * 2, '\0');
  char *in_ptr = in.data();
  char *out_ptr = out.data();
  std::size_t in_left = in.size();
  std::size_t out_left = out.size();
  EXPECT_NE(iconv(converter, &in_ptr, &in_left, &out_ptr, &out_left), static_cast<std::size_t>(-1));
  iconv_close(converter);
  out.resize(out.size() - out_left);
  return out;
}

TEST(Messages, AreTheGbkBytesOfTheirTexts) {
  using namespace kel::msg;
  const std::pair<const char *, const char *> table[] = {
      {kRandomFailed, "生成随机数异常"},
      {kEncryptFailed, "加密出现异常错误"},
      {kDecryptFailed, "解密出现异常"},
      {kServerUnreachable, "无法连接服务器！"},
      {kBadAnswerFormat, "服务器传回的数据格式不合法"},
      {kAnswerDecryptFailed, "解密服务器传回的数据失败"},
      {kAnswerNotVerified, "验证服务器传回的数据不正确"},
      {kAnswerVerifyRaised, "验证服务器传回的数据出现异常错误"},
      {kNoPublicKey, "没有公钥数据！"},
      {kBadArgument, "参数错误"},
      {kTransactionFailed, "连接服务器失败"},
      {kTimestampInvalid, "时间戳无效"},
      {kTimestampVerifyRaised, "验证时间戳时出现异常错误"},
  };
  // The public table that hosts and kel read lists each message once.
  std::set<std::string> listed;
#define KEL_ROW(id, bytes, meaning, reported_by) listed.insert(bytes);
  KEL_MESSAGE_TABLE(KEL_ROW)
#undef KEL_ROW
  EXPECT_EQ(listed.size(), std::size(table));
  for (const auto &[bytes, text] : table) {
    EXPECT_EQ(std::string(bytes), Gbk(text)) << text;
    EXPECT_EQ(listed.count(bytes), 1u) << text;
  }
}

}  // namespace
