// The texts of the CA side (the file format, the key settings and NuvaCA),
// UTF-16, converted where they are used.
#pragma once

namespace nuva::ca::texts {

// File faults.
inline constexpr char16_t kNotEncrypted[] = u"文件不是NuvaCA加密格式";
inline constexpr char16_t kUnsupported[] = u"加密文件的版本或参数不受支持";
inline constexpr char16_t kWrongKeyKind[] = u"加密文件的密钥类型(密钥文件或口令)与配置不符";
inline constexpr char16_t kWrongKey[] = u"密钥不正确,无法解密";
inline constexpr char16_t kDamaged[] = u"数据校验失败:加密文件已损坏、被截断或被篡改";
inline constexpr char16_t kTruncated[] = u"加密文件不完整:缺少最后的数据块";
inline constexpr char16_t kTrailing[] = u"加密文件在最后的数据块之后还有多余的数据";

// Key settings.
inline constexpr char16_t kNoKey[] = u"CA配置缺少密钥:需要<KEY_FILE>或<PASSPHRASE>";
inline constexpr char16_t kTwoKeys[] = u"CA配置只能有<KEY_FILE>和<PASSPHRASE>之一";
inline constexpr char16_t kKeyFileUnreadable[] = u"无法读取密钥文件:";  // + path + ":" + reason
inline constexpr char16_t kKeyFileInvalid[] =
    u"密钥文件格式无效(需要32字节或64位十六进制数字):";  // + path
inline constexpr char16_t kEmptyPassphrase[] = u"口令<PASSPHRASE>不能为空";

// NuvaCA.
inline constexpr char16_t kInitDone[] = u"CA组件初始化成功";
inline constexpr char16_t kNotInitialized[] = u"CA组件尚未成功初始化";
inline constexpr char16_t kSourceMissing[] = u"源文件不存在:";  // + path
inline constexpr char16_t kEncryptFailed[] = u"加密失败:";      // + reason
inline constexpr char16_t kDecryptFailed[] = u"解密失败:";      // + reason

}  // namespace nuva::ca::texts
