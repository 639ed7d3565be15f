<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="ja_JP">
<context>
    <name>error</name>
    <message>
        <source>overflow</source>
        <translation>オーバーフローしました</translation>
    </message>
    <message>
        <source>invalid floating-point operation</source>
        <translation>浮動小数点の演算が不正です</translation>
    </message>
    <message>
        <source>division by zero</source>
        <translation>0 で割りました</translation>
    </message>
    <message>
        <source>floating-point overflow</source>
        <translation>浮動小数点数がオーバーフローしました</translation>
    </message>
    <message>
        <source>file not found</source>
        <translation>ファイルが見つかりません</translation>
    </message>
    <message>
        <source>not a regular file</source>
        <translation>通常のファイルではありません</translation>
    </message>
    <message>
        <source>file cannot be read</source>
        <translation>ファイルを読み込めません</translation>
    </message>
    <message>
        <source>not an image in a format the viewer reads</source>
        <translation>このビューアーが読める形式の画像ではありません</translation>
    </message>
    <message>
        <source>out of memory</source>
        <translation>メモリが足りません</translation>
    </message>
    <message>
        <source>error</source>
        <translation>エラー</translation>
    </message>
    <message>
        <source>cannot open &apos;%1&apos;: %2</source>
        <translation>&apos;%1&apos; を開けません: %2</translation>
    </message>
</context>
<context>
    <name>reason</name>
    <message>
        <source>is damaged: its header claims %1 x %2 pixels</source>
        <translation>壊れています: ヘッダーが %1 x %2 ピクセルとしています</translation>
    </message>
    <message>
        <source>is damaged: its header claims %1 x %2 pixels, more than %3 a side</source>
        <translation>壊れています: ヘッダーが %1 x %2 ピクセルとしており、一辺 %3 を超えています</translation>
    </message>
    <message>
        <source>is too large: %1 x %2 pixels need %3, %4 MB available</source>
        <translation>大きすぎます: %1 x %2 ピクセルには %3 が必要ですが、使えるのは %4 MB です</translation>
    </message>
    <message>
        <source>more than 8 EB</source>
        <translation>8 EB を超える量</translation>
    </message>
    <message>
        <source>%1 MB</source>
        <translation>%1 MB</translation>
    </message>
    <message>
        <source>is damaged or cut short: its header claims %1 x %2 pixels but the file holds only %3 bytes</source>
        <translation>壊れているか途中で切れています: ヘッダーは %1 x %2 ピクセルとしていますが、ファイルは %3 バイトしかありません</translation>
    </message>
    <message>
        <source>is damaged: %1</source>
        <translation>壊れています: %1</translation>
    </message>
    <message>
        <source>no image data</source>
        <translation>画像データがありません</translation>
    </message>
    <message>
        <source>its pixels cannot be output</source>
        <translation>画素を出力できません</translation>
    </message>
    <message>
        <source>the file ends before its pixels</source>
        <translation>画素の前でファイルが終わっています</translation>
    </message>
    <message>
        <source>its header is damaged</source>
        <translation>ヘッダーが壊れています</translation>
    </message>
    <message>
        <source>it holds no frame</source>
        <translation>フレームがありません</translation>
    </message>
    <message>
        <source>its data is damaged</source>
        <translation>データが壊れています</translation>
    </message>
    <message>
        <source>its decoder %1 cannot be loaded (%2)</source>
        <translation>デコーダー %1 を読み込めません (%2)</translation>
    </message>
    <message>
        <source>the file ends early</source>
        <translation>ファイルが途中で終わっています</translation>
    </message>
    <message>
        <source>is too large: its document inflates to more than %1 MB</source>
        <translation>大きすぎます: 展開すると %1 MB を超える文書です</translation>
    </message>
    <message>
        <source>its compressed data is damaged</source>
        <translation>圧縮データが壊れています</translation>
    </message>
    <message>
        <source>is too large: a document of more than %1 MB</source>
        <translation>大きすぎます: %1 MB を超える文書です</translation>
    </message>
    <message>
        <source>it is not a valid SVG document</source>
        <translation>正しい SVG 文書ではありません</translation>
    </message>
    <message>
        <source>cannot be decoded: %1</source>
        <translation>デコードできません: %1</translation>
    </message>
    <message>
        <source>cannot be read</source>
        <translation>読み込めません</translation>
    </message>
    <message>
        <source>the file ends in its colour map</source>
        <translation>カラーマップの途中でファイルが終わっています</translation>
    </message>
    <message>
        <source>the file ends before its first row</source>
        <translation>最初の行の前でファイルが終わっています</translation>
    </message>
    <message>
        <source>the file ends before its first rows</source>
        <translation>最初の数行の前でファイルが終わっています</translation>
    </message>
    <message>
        <source>is a directory</source>
        <translation>ディレクトリです</translation>
    </message>
    <message>
        <source>is a pipe, not a regular file</source>
        <translation>パイプです。通常のファイルではありません</translation>
    </message>
    <message>
        <source>is a device, not a regular file</source>
        <translation>デバイスです。通常のファイルではありません</translation>
    </message>
    <message>
        <source>is a socket, not a regular file</source>
        <translation>ソケットです。通常のファイルではありません</translation>
    </message>
    <message>
        <source>is not a regular file</source>
        <translation>通常のファイルではありません</translation>
    </message>
    <message>
        <source>no such file</source>
        <translation>そのようなファイルはありません</translation>
    </message>
    <message>
        <source>permission denied</source>
        <translation>アクセス権がありません</translation>
    </message>
    <message>
        <source>is empty</source>
        <translation>空のファイルです</translation>
    </message>
    <message>
        <source>is not an image in a format the viewer reads</source>
        <translation>このビューアーが読める形式の画像ではありません</translation>
    </message>
    <message>
        <source>does not fit in memory</source>
        <translation>メモリに収まりません</translation>
    </message>
    <message>
        <source>%1; %2</source>
        <translation>%1。%2</translation>
    </message>
    <message>
        <source>its tiles of over a gigapixel cannot be read in parts</source>
        <translation>タイルが 10 億ピクセルを超えるため、部分ごとに読み込むこともできません</translation>
    </message>
    <message>
        <source>in several scans, its index of them would not fit in memory, so it cannot be read in parts</source>
        <translation>複数のスキャンからなり、その索引がメモリに収まらないため、部分ごとに読み込むこともできません</translation>
    </message>
    <message>
        <source>without restart markers at the starts of its rows, it cannot be read in parts</source>
        <translation>行の先頭にリスタートマーカーがないため、部分ごとに読み込むこともできません</translation>
    </message>
</context>
</TS>
