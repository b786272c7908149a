#include "platform/SocketErrorText.h"

#include <string_view>

namespace lumacast {
namespace {

struct Entry {
    int winsock;
    std::string_view text;
};
// clang-format on

// clang-format off
constexpr Entry Table[] = {
    {10004, "システム コールが割り込まれました。"},
    {10009, "ファイル番号が不正です。"},
    {10013, "アクセスが拒否されました。"},
    {10014, "バッファ フォルトが発生しました。"},
    {10022, "引数が無効です。"},
    {10024, "開いているファイルが多すぎます。"},
    {10035, "操作はブロックされます。"},
    {10036, "操作を現在実行中です。"},
    {10037, "操作は既に実行中です。"},
    {10038, "ソケット以外のものに対するソケット操作です。"},
    {10039, "送信先アドレスが必要です。"},
    {10040, "メッセージが長すぎます。"},
    {10041, "ソケットのプロトコルの種類が正しくありません。"},
    {10042, "プロトコル オプションが不正です。"},
    {10043, "プロトコルがサポートされていません。"},
    {10044, "ソケット タイプがサポートされていません。"},
    {10045, "ソケットで操作がサポートされていません。"},
    {10046, "プロトコル ファミリがサポートされていません。"},
    {10047, "アドレス ファミリがプロトコル ファミリでサポートされていません。"},
    {10048, "アドレスは既に使われています。"},
    {10049, "要求されたアドレスを割り当てることができません。"},
    {10050, "ネットワークが停止しています。"},
    {10051, "ネットワークに到達できません。"},
    {10052, "ネットワークが接続を切断またはリセットしました。"},
    {10053, "ソフトウェアが原因で接続が途中で中止されました。"},
    {10054, "ピアにより接続がリセットされました。"},
    {10055, "使用できるバッファ領域がありません。"},
    {10056, "ソケットは既に接続されています。"},
    {10057, "ソケットが接続されていません。"},
    {10058, "ソケットが閉じた後に送信や受信をすることはできません。"},
    {10059, "参照が多すぎます。継ぎ合わせることができません。"},
    {10060, "接続がタイムアウトしました。"},
    {10061, "接続が拒否されました。"},
    {10062, "シンボリック リンクのレベルが多すぎます。"},
    {10063, "ファイル名が長すぎます。"},
    {10064, "ホストが停止しています。"},
    {10065, "ホストへのルートが存在しません。"},
    {10066, "ディレクトリが空ではありません"},
};

constexpr int WinsockMessageTooLong = 10040;

} // namespace

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
        return MessageTooLongText;
    return "Socket エラー # " + std::to_string(number) + "\r\n" + WinsockErrorText(number);
}

} // namespace lumacast
