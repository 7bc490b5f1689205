// The engine's own texts: the messages and status lines the host sees. They
// are UTF-16 so that the bytes are exact on every build, and converted to the
// system code page (or handed over as UTF-16) where they are used. Messages
// are built by plain concatenation, without separators.
#pragma once

namespace nuva::texts {

// The library's file name, as the messages name it.
inline constexpr const char16_t kLibraryName[] = u"DuredaVevuvavizuriz_NUVA.dll";

// Init.
inline constexpr const char16_t kBadNetworkOpen[] = u"NETWORK接口文件[";
inline constexpr const char16_t kBadCAOpen[] = u"CA接口文件[";
inline constexpr const char16_t kBadComponentClose[] = u"]为非法COM组件!";
inline constexpr const char16_t kInitFailedOpen[] =
    u"COM组件DuredaVevuvavizuriz_NUVA.dll初始化失败,原因是[";
inline constexpr const char16_t kInitFailedClose[] = u"]!";

// The frame of an error caught at an operation's boundary:
// kErrorOpen + message + kErrorReason + reason + kErrorClose.
inline constexpr const char16_t kErrorOpen[] = u"系统调用出现异常[";
inline constexpr const char16_t kErrorReason[] = u"],可能原因[";
inline constexpr const char16_t kErrorClose[] = u"]!";
inline constexpr const char16_t kInitReason[] =
    u"传入COM组件DuredaVevuvavizuriz_NUVA.dll的Init函数的参数非法";
inline constexpr const char16_t kTestConnReason[] = u"网络故障或授权失败";
inline constexpr const char16_t kSendReason[] =
    u"传入COM组件DuredaVevuvavizuriz_NUVA.dll的Send函数的参数非法或网络故障";

// A call refused because another one is running on the engine (inside the
// error frame of the refused operation).
inline constexpr const char16_t kBusy[] = u"引擎正忙:上一个调用尚未结束,本次调用被拒绝";

// Send: refused before a successful Init.
inline constexpr const char16_t kNotInitialized[] =
    u"没有成功执行COM组件[DuredaVevuvavizuriz_NUVA.dll]的Init初始化函数,函数Send不进行处理!";

// Send: the status lines, in pipeline order.
inline constexpr const char16_t kPreparing[] = u"正在进行数据发送前准备...";
inline constexpr const char16_t kReading[] = u"正在读取数据...";
inline constexpr const char16_t kReadDone[] = u"读取数据成功!";
inline constexpr const char16_t kCompressing[] = u"正在进行数据压缩...";
inline constexpr const char16_t kCompressFailed[] = u"数据压缩失败!";
inline constexpr const char16_t kCompressDone[] = u"数据压缩成功!";
inline constexpr const char16_t kEncrypting[] = u"正在进行数据加密...";
inline constexpr const char16_t kEncryptFailedOpen[] = u"数据加密失败[原因为:";
inline constexpr const char16_t kEncryptDone[] = u"数据加密成功!";
inline constexpr const char16_t kBuildingHeader[] = u"正在产生服务器要求的通信数据格式...";
inline constexpr const char16_t kHeaderFailed[] = u"产生服务器要求的通信数据格式失败!";
inline constexpr const char16_t kHeaderDone[] = u"服务器要求的通信数据格式组织成功!";
inline constexpr const char16_t kReady[] = u"数据准备就绪!";
inline constexpr const char16_t kPosting[] = u"准备发送数据...";
inline constexpr const char16_t kPostFailedOpen[] = u"数据发送失败[原因为:";
inline constexpr const char16_t kPostDone[] = u"成功收到服务器反馈数据!";
inline constexpr const char16_t kProcessingReply[] = u"正在处理反馈数据...";
inline constexpr const char16_t kReadingReply[] = u"正在读取服务器反馈的通信数据...";
inline constexpr const char16_t kReplyFailed[] = u"读取服务器反馈的通信数据失败!";
inline constexpr const char16_t kReplyDone[] = u"读取服务器反馈的通信数据成功!";
inline constexpr const char16_t kDecrypting[] = u"正在进行数据解密...";
inline constexpr const char16_t kDecryptFailedOpen[] = u"数据解密失败[原因为:";
inline constexpr const char16_t kDecryptDone[] = u"数据解密成功!";
inline constexpr const char16_t kUnpacking[] = u"正在进行数据解压缩...";
inline constexpr const char16_t kUnpackFailed[] = u"数据解压缩失败!";
inline constexpr const char16_t kUnpackDone[] = u"数据解压缩成功!";
inline constexpr const char16_t kBuildingReply[] = u"正在组织返回数据格式...";
inline constexpr const char16_t kReplyBuilt[] = u"组织返回数据格式成功!";
inline constexpr const char16_t kSucceeded[] = u"本次交易最终成功!";
// Closes the "[原因为:" + component message frames.
inline constexpr const char16_t kReasonClose[] = u"]!";

}  // namespace nuva::texts
