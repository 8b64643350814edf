// The fixed messages that the library stores in the last-error text.
// They are GBK (code page 936) bytes, written as escapes so that the bytes do
// not depend on the encoding of this source file; the comments give the text.
#ifndef KEL_API_MESSAGES_H_
#define KEL_API_MESSAGES_H_

namespace kel {
namespace msg {

// 生成随机数异常: the random string could not be generated.
inline constexpr char kRandomFailed[] = "\xC9\xFA\xB3\xC9\xCB\xE6\xBB\xFA\xCA\xFD\xD2\xEC\xB3\xA3";
// 加密出现异常错误: encryption failed.
inline constexpr char kEncryptFailed[] =
    "\xBC\xD3\xC3\xDC\xB3\xF6\xCF\xD6\xD2\xEC\xB3\xA3\xB4\xED\xCE\xF3";
// 解密出现异常: decryption failed.
inline constexpr char kDecryptFailed[] = "\xBD\xE2\xC3\xDC\xB3\xF6\xCF\xD6\xD2\xEC\xB3\xA3";
// 无法连接服务器！: the server cannot be reached.
inline constexpr char kServerUnreachable[] =
    "\xCE\xDE\xB7\xA8\xC1\xAC\xBD\xD3\xB7\xFE\xCE\xF1\xC6\xF7\xA3\xA1";
// 服务器传回的数据格式不合法: the server's answer is not in a valid format.
inline constexpr char kBadAnswerFormat[] =
    "\xB7\xFE\xCE\xF1\xC6\xF7\xB4\xAB\xBB\xD8\xB5\xC4\xCA\xFD\xBE\xDD\xB8\xF1\xCA\xBD\xB2\xBB\xBA"
    "\xCF\xB7\xA8";
// 解密服务器传回的数据失败: the server's answer could not be decrypted.
inline constexpr char kAnswerDecryptFailed[] =
    "\xBD\xE2\xC3\xDC\xB7\xFE\xCE\xF1\xC6\xF7\xB4\xAB\xBB\xD8\xB5\xC4\xCA\xFD\xBE\xDD\xCA\xA7\xB0"
    "\xDC";
// 验证服务器传回的数据不正确: the server's answer did not verify.
inline constexpr char kAnswerNotVerified[] =
    "\xD1\xE9\xD6\xA4\xB7\xFE\xCE\xF1\xC6\xF7\xB4\xAB\xBB\xD8\xB5\xC4\xCA\xFD\xBE\xDD\xB2\xBB\xD5"
    "\xFD\xC8\xB7";
// 验证服务器传回的数据出现异常错误: verifying the server's answer raised an error.
inline constexpr char kAnswerVerifyRaised[] =
    "\xD1\xE9\xD6\xA4\xB7\xFE\xCE\xF1\xC6\xF7\xB4\xAB\xBB\xD8\xB5\xC4\xCA\xFD\xBE\xDD\xB3\xF6\xCF"
    "\xD6\xD2\xEC\xB3\xA3\xB4\xED\xCE\xF3";
// 没有公钥数据！: no public key was loaded.
inline constexpr char kNoPublicKey[] = "\xC3\xBB\xD3\xD0\xB9\xAB\xD4\xBF\xCA\xFD\xBE\xDD\xA3\xA1";
// 参数错误: wrong argument.
inline constexpr char kBadArgument[] = "\xB2\xCE\xCA\xFD\xB4\xED\xCE\xF3";
// 连接服务器失败: the server transaction failed.
inline constexpr char kTransactionFailed[] =
    "\xC1\xAC\xBD\xD3\xB7\xFE\xCE\xF1\xC6\xF7\xCA\xA7\xB0\xDC";
// 时间戳无效: the timestamp is not valid.
inline constexpr char kTimestampInvalid[] = "\xCA\xB1\xBC\xE4\xB4\xC1\xCE\xDE\xD0\xA7";
// 验证时间戳时出现异常错误: verifying the timestamp raised an error.
inline constexpr char kTimestampVerifyRaised[] =
    "\xD1\xE9\xD6\xA4\xCA\xB1\xBC\xE4\xB4\xC1\xCA\xB1\xB3\xF6\xCF\xD6\xD2\xEC\xB3\xA3\xB4\xED\xCE"
    "\xF3";

}  // namespace msg
}  // namespace kel

#endif  // KEL_API_MESSAGES_H_
