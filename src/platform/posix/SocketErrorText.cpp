#include "platform/SocketErrorText.h"

#include <cerrno>
#include <string_view>

namespace lumacast {
namespace {

struct Entry {
    int errnoValue;
    int winsock;
    std::string_view text;
};

// EWOULDBLOCK is EAGAIN and EOPNOTSUPP is ENOTSUP on Linux: one row each.
constexpr Entry Table[] = {
    {EINTR, 10004, "システム コールが割り込まれました。"},
    {EBADF, 10009, "ファイル番号が不正です。"},
    {EACCES, 10013, "アクセスが拒否されました。"},
    {EFAULT, 10014, "バッファ フォルトが発生しました。"},
    {EINVAL, 10022, "引数が無効です。"},
    {EMFILE, 10024, "開いているファイルが多すぎます。"},
    {EWOULDBLOCK, 10035, "操作はブロックされます。"},
    {EINPROGRESS, 10036, "操作を現在実行中です。"},
    {EALREADY, 10037, "操作は既に実行中です。"},
    {ENOTSOCK, 10038, "ソケット以外のものに対するソケット操作です。"},
    {EDESTADDRREQ, 10039, "送信先アドレスが必要です。"},
    {EMSGSIZE, 10040, "メッセージが長すぎます。"},
    {EPROTOTYPE, 10041, "ソケットのプロトコルの種類が正しくありません。"},
    {ENOPROTOOPT, 10042, "プロトコル オプションが不正です。"},
    {EPROTONOSUPPORT, 10043, "プロトコルがサポートされていません。"},
    {ESOCKTNOSUPPORT, 10044, "ソケット タイプがサポートされていません。"},
    {EOPNOTSUPP, 10045, "ソケットで操作がサポートされていません。"},
    {EPFNOSUPPORT, 10046, "プロトコル ファミリがサポートされていません。"},
    {EAFNOSUPPORT, 10047, "アドレス ファミリがプロトコル ファミリでサポートされていません。"},
    {EADDRINUSE, 10048, "アドレスは既に使われています。"},
    {EADDRNOTAVAIL, 10049, "要求されたアドレスを割り当てることができません。"},
    {ENETDOWN, 10050, "ネットワークが停止しています。"},
    {ENETUNREACH, 10051, "ネットワークに到達できません。"},
    {ENETRESET, 10052, "ネットワークが接続を切断またはリセットしました。"},
    {ECONNABORTED, 10053, "ソフトウェアが原因で接続が途中で中止されました。"},
    {ECONNRESET, 10054, "ピアにより接続がリセットされました。"},
    {ENOBUFS, 10055, "使用できるバッファ領域がありません。"},
    {EISCONN, 10056, "ソケットは既に接続されています。"},
    {ENOTCONN, 10057, "ソケットが接続されていません。"},
    {ESHUTDOWN, 10058, "ソケットが閉じた後に送信や受信をすることはできません。"},
    {ETOOMANYREFS, 10059, "参照が多すぎます。継ぎ合わせることができません。"},
    {ETIMEDOUT, 10060, "接続がタイムアウトしました。"},
    {ECONNREFUSED, 10061, "接続が拒否されました。"},
    {ELOOP, 10062, "シンボリック リンクのレベルが多すぎます。"},
    {ENAMETOOLONG, 10063, "ファイル名が長すぎます。"},
    {EHOSTDOWN, 10064, "ホストが停止しています。"},
    {EHOSTUNREACH, 10065, "ホストへのルートが存在しません。"},
    {ENOTEMPTY, 10066, "ディレクトリが空ではありません"},
};

constexpr int WinsockMessageTooLong = 10040;

} // namespace

int WinsockErrorNumber(int errnoValue)
{
    for (const Entry &e : Table)
        if (e.errnoValue == errnoValue)
            return e.winsock;
    return errnoValue;
}

std::string WinsockErrorText(int winsockNumber)
{
    for (const Entry &e : Table)
        if (e.winsock == winsockNumber)
            return std::string(e.text);
    return {};
}

std::string SocketErrorMessage(int errnoValue)
{
    const int number = WinsockErrorNumber(errnoValue);
    if (number == WinsockMessageTooLong)
        return "パッケージ サイズが大きすぎます。";
    return "Socket エラー # " + std::to_string(number) + "\r\n" + WinsockErrorText(number);
}

} // namespace lumacast
