// The texts of NuvaNet, UTF-16, converted where they are used.
#pragma once

namespace nuva::net::texts {

// Init and TestConn.
inline constexpr char16_t kInitDone[] = u"网络组件初始化成功,服务器:";  // + URL
inline constexpr char16_t kNotInitialized[] = u"网络组件尚未成功初始化";
inline constexpr char16_t kNoUrl[] = u"网络配置缺少服务器地址<URL>";
inline constexpr char16_t kBadUrl[] = u"配置项<URL>无效(应为http://主机:端口或https://主机:端口):";
inline constexpr char16_t kBadPin[] = u"配置项<PIN_SHA256>无效(应为公钥SHA-256的base64):";
inline constexpr char16_t kConnected[] = u"连接服务器成功:";               // + URL
inline constexpr char16_t kUnhealthy[] = u"服务器健康检查未通过:";         // + reply

// Faults of the exchange (+ URL, and for some the system's detail).
inline constexpr char16_t kResolve[] = u"无法解析服务器地址:";
inline constexpr char16_t kRefused[] = u"无法连接服务器(连接被拒绝或服务器未启动):";
inline constexpr char16_t kTimeout[] = u"与服务器通信超时:";
inline constexpr char16_t kTls[] = u"与服务器建立安全连接失败(证书或TLS错误):";
inline constexpr char16_t kPinned[] = u"服务器证书的公钥与配置的固定公钥不符:";
inline constexpr char16_t kTruncated[] = u"服务器应答不完整,连接在数据传完之前中断:";
inline constexpr char16_t kBroken[] = u"与服务器的连接意外中断:";
inline constexpr char16_t kAborted[] = u"数据传输被中止:";
inline constexpr char16_t kOther[] = u"网络通信失败:";
inline constexpr char16_t kHttpErrorOpen[] = u"服务器返回错误(HTTP ";  // + status
inline constexpr char16_t kHttpErrorClose[] = u"):";                   // + the server's text

// Post.
inline constexpr char16_t kBadRequestHeader[] = u"请求报文头不是64字节";
inline constexpr char16_t kSendFileMissing[] = u"发送文件不存在:";            // + path
inline constexpr char16_t kReplyNotCreated[] = u"无法在接收目录中创建应答文件:";  // + directory
inline constexpr char16_t kReplyNotSaved[] = u"保存应答文件失败:";             // + reason
inline constexpr char16_t kShortHeader[] = u"服务器应答不完整:缺少64字节的应答报文头";
inline constexpr char16_t kBadHeader[] = u"服务器应答报文头格式错误";
inline constexpr char16_t kUnsafeSender[] = u"服务器应答报文头中的发送方代码不合法:";  // + sender
inline constexpr char16_t kUnsafeReserve[] = u"服务器应答报文头中的文件名不合法:";      // + name
inline constexpr char16_t kReplyTooLarge[] =
    u"服务器应答数据超过允许的最大长度<MAX_REPLY>:";  // + the maximum in bytes
inline constexpr char16_t kUnexpectedBody[] = u"服务器应答格式错误:报文头标明无数据,却带有数据";
inline constexpr char16_t kSending[] = u"正在向服务器发送数据...";
inline constexpr char16_t kReceiving[] = u"正在接收服务器应答...";
inline constexpr char16_t kReceived[] = u"服务器应答接收完毕";

}  // namespace nuva::net::texts
