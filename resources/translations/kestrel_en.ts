<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="zh_CN">
<context>
    <name>Checksum</name>
    <message>
        <source>已选字符数(&amp;N)Hex: 0X%1 Dec: %2</source>
        <translation>Selected &amp;bytes  Hex: 0X%1 Dec: %2</translation>
    </message>
    <message>
        <source>累加校验(&amp;A)    Hex: 0X%1 Dec: %2</source>
        <translation>&amp;Additive sum   Hex: 0X%1 Dec: %2</translation>
    </message>
    <message>
        <source>异或校验(&amp;X)    Hex: 0X%1 Dec: %2</source>
        <translation>&amp;XOR            Hex: 0X%1 Dec: %2</translation>
    </message>
    <message>
        <source>CRC16校验(&amp;R) Hex: 0X%1 Dec: %2</source>
        <translation>C&amp;RC16          Hex: 0X%1 Dec: %2</translation>
    </message>
    <message>
        <source>不能选择多行数据计算(&amp;E)</source>
        <translation>Cannot compute over sev&amp;eral lines</translation>
    </message>
    <message>
        <source>选中的数据超过2048字节(&amp;E)</source>
        <translation>S&amp;election is over 2048 bytes</translation>
    </message>
</context>
<context>
    <name>ErrorStats</name>
    <message>
        <source>字节误码率:%1</source>
        <translation>Bytes: %1</translation>
    </message>
    <message>
        <source>比特误码率:%1</source>
        <translation>Bits: %1</translation>
    </message>
    <message>
        <source>发送数据长度: %1 bytes</source>
        <translation>Sent: %1 bytes</translation>
    </message>
    <message>
        <source>接收数据长度: %1 bytes</source>
        <translation>Received: %1 bytes</translation>
    </message>
    <message>
        <source>%1[次数:%2]</source>
        <translation>%1 [×%2]</translation>
    </message>
</context>
<context>
    <name>Fieldmark</name>
    <message>
        <source> — 仍按%1毫秒发送</source>
        <translation> — still sending every %1 ms</translation>
    </message>
</context>
<context>
    <name>Filesend</name>
    <message>
        <source>端口未打开</source>
        <translation>the port is not open</translation>
    </message>
</context>
<context>
    <name>HeadlessRun</name>
    <message>
        <source>端口打不开：%1</source>
        <translation>The port does not open: %1</translation>
    </message>
    <message>
        <source>不是普通文件</source>
        <translation>not a regular file</translation>
    </message>
</context>
<context>
    <name>ProtocolFrame</name>
    <message>
        <source>长度: %1 [0X%2]</source>
        <translation>Length: %1 [0X%2]</translation>
    </message>
</context>
<context>
    <name>ReplyPattern</name>
    <message>
        <source>十六进制数据须成对书写</source>
        <translation>Hex bytes are written in pairs</translation>
    </message>
    <message>
        <source>十六进制数据中有无效字符</source>
        <translation>The hex text holds a character that is no digit</translation>
    </message>
    <message>
        <source>没有数据</source>
        <translation>No bytes</translation>
    </message>
    <message>
        <source>转义符\后缺少字符</source>
        <translation>Nothing follows the escape \</translation>
    </message>
    <message>
        <source>\x后须有两位十六进制数字</source>
        <translation>\x takes two hex digits</translation>
    </message>
    <message>
        <source>未知的转义符</source>
        <translation>Unknown escape</translation>
    </message>
    <message>
        <source>匹配的数据太长</source>
        <translation>The pattern is too long</translation>
    </message>
    <message>
        <source>正则表达式有误：%1，位置 %2</source>
        <translation>Bad regular expression: %1, at %2</translation>
    </message>
    <message>
        <source>正则表达式能匹配空数据</source>
        <translation>The regular expression matches no bytes at all</translation>
    </message>
    <message>
        <source>未知的匹配方式</source>
        <translation>Unknown kind of pattern</translation>
    </message>
</context>
<context>
    <name>TAutoSendPage</name>
    <message>
        <source>您使用了前导码，但接收字节与发送的字节不一致，会导致统计误码率不正确。</source>
        <translation>The preamble is on, but the receive count differs from the bytes sent: the error rates will be wrong.</translation>
    </message>
    <message>
        <source>发送数据</source>
        <translation>Send data</translation>
    </message>
    <message>
        <source>字符串</source>
        <translation>String</translation>
    </message>
    <message>
        <source>Hex序列</source>
        <translation>Hex bytes</translation>
    </message>
    <message>
        <source>间隔时间(毫秒)</source>
        <translation>Interval (ms)</translation>
    </message>
    <message>
        <source>开始</source>
        <translation>Start</translation>
    </message>
    <message>
        <source>停止</source>
        <translation>Stop</translation>
    </message>
    <message>
        <source>统计误码率</source>
        <translation>Error rates</translation>
    </message>
    <message>
        <source>开始统计</source>
        <translation>Count</translation>
    </message>
    <message>
        <source>此文字含有GBK代码页以外的字符, 未开始</source>
        <translation>The text has characters outside code page GBK; not started</translation>
    </message>
    <message>
        <source>发送数据最多%1个字节 (现有%2个), 未开始</source>
        <translation>At most %1 bytes of data (this is %2); not started</translation>
    </message>
    <message>
        <source>发送数据最多%1个字节, 未开始</source>
        <translation>At most %1 bytes of data; not started</translation>
    </message>
</context>
<context>
    <name>TFindBar</name>
    <message>
        <source>文本</source>
        <translation>Text</translation>
    </message>
    <message>
        <source>十六进制</source>
        <translation>Hex</translation>
    </message>
    <message>
        <source>正则表达式</source>
        <translation>Regex</translation>
    </message>
    <message>
        <source>跳到偏移</source>
        <translation>Go to offset</translation>
    </message>
    <message>
        <source>忽略大小写</source>
        <translation>Ignore case</translation>
    </message>
    <message>
        <source>上一个</source>
        <translation>Previous</translation>
    </message>
    <message>
        <source>下一个</source>
        <translation>Next</translation>
    </message>
    <message>
        <source>关闭</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>只能输入十六进制数字、?? 和空格</source>
        <translation>Only hex digits, ?? and spaces</translation>
    </message>
    <message>
        <source>含有代码页 936 无法表示的字符</source>
        <translation>Holds a character that code page 936 cannot represent</translation>
    </message>
    <message>
        <source>请输入要查找的内容</source>
        <translation>Type what to find</translation>
    </message>
    <message>
        <source>十六进制数字须成对：每个字节两位</source>
        <translation>Hex digits come in pairs: two per byte</translation>
    </message>
    <message>
        <source>查找内容太长：最多 %1 字节</source>
        <translation>Too long: at most %1 bytes</translation>
    </message>
    <message>
        <source>至少要有一个确定的字节</source>
        <translation>At least one byte must not be ??</translation>
    </message>
    <message>
        <source>正则表达式有误，位置 %1：%2</source>
        <translation>Bad regular expression at %1: %2</translation>
    </message>
    <message>
        <source>计数中… %1%</source>
        <translation>Counting… %1%</translation>
    </message>
    <message>
        <source>计数中…</source>
        <translation>Counting…</translation>
    </message>
    <message>
        <source>请输入十六进制偏移，如偏移栏所示</source>
        <translation>Type a hex offset, as the offset column shows it</translation>
    </message>
    <message>
        <source>偏移 %1 不在会话中</source>
        <translation>Offset %1 is not in the session</translation>
    </message>
    <message>
        <source>只显示匹配的行</source>
        <translation>Only matching lines</translation>
    </message>
    <message>
        <source>文本显示时只显示含有匹配的行</source>
        <translation>In the text view, show only the lines that hold a match</translation>
    </message>
    <message>
        <source>正则表达式按代码页 936 的字节匹配：一个汉字是两个字节，“.”只匹配一个字节，任意一个汉字要写成“..”</source>
        <translation>Regular expressions match the bytes of code page 936: a Chinese character is two bytes and “.” matches one byte, so write “..” for any one Chinese character</translation>
    </message>
</context>
<context>
    <name>TFrmMain</name>
    <message>
        <source>%1 未能改变: %2</source>
        <translation>%1 could not be changed: %2</translation>
    </message>
    <message>
        <source>前导码最多%1个字节</source>
        <translation>The preamble has at most %1 bytes</translation>
    </message>
    <message>
        <source>接收字符数最多%1</source>
        <translation>The receive count is at most %1</translation>
    </message>
    <message>
        <source>已丢弃最早的行: 超出内存上限</source>
        <translation>oldest lines dropped: memory limit reached</translation>
    </message>
    <message>
        <source>保存...</source>
        <translation>Save...</translation>
    </message>
    <message>
        <source>打开...</source>
        <translation>Open...</translation>
    </message>
    <message>
        <source>不能记录到文件 %1: %2</source>
        <translation>Cannot log to the file %1: %2</translation>
    </message>
    <message>
        <source>记录到文件 %1 失败: %2</source>
        <translation>Logging to the file %1 failed: %2</translation>
    </message>
    <message>
        <source>停止记录(&amp;L)</source>
        <translation>Stop &amp;logging</translation>
    </message>
    <message>
        <source>记录到文件 (原样字节)(&amp;L)...</source>
        <translation>&amp;Log to file (raw bytes)...</translation>
    </message>
    <message>
        <source>记录到文件 (文本)(&amp;T)...</source>
        <translation>Log to file (&amp;text)...</translation>
    </message>
    <message>
        <source>记录到文件 (文本, 带时间戳)(&amp;M)...</source>
        <translation>Log to file (text with ti&amp;me stamps)...</translation>
    </message>
    <message>
        <source>记录到文件...</source>
        <translation>Log to file...</translation>
    </message>
    <message>
        <source>所有文件(*)</source>
        <translation>All files(*)</translation>
    </message>
    <message>
        <source>版本: %1 测试版</source>
        <translation>Version %1 beta</translation>
    </message>
    <message>
        <source>发送窗口</source>
        <translation>Send</translation>
    </message>
    <message>
        <source>定时发送窗口</source>
        <translation>Timed send</translation>
    </message>
    <message>
        <source>参数设置</source>
        <translation>Settings</translation>
    </message>
    <message>
        <source>无线通讯协议V0.8</source>
        <translation>Radio protocol V0.8</translation>
    </message>
    <message>
        <source>端口状态</source>
        <translation>Port status</translation>
    </message>
    <message>
        <source>状态控制</source>
        <translation>Line control</translation>
    </message>
    <message>
        <source>开/关RTS</source>
        <translation>RTS on/off</translation>
    </message>
    <message>
        <source>开/关DTR</source>
        <translation>DTR on/off</translation>
    </message>
    <message>
        <source>发送时控制RTS</source>
        <translation>RTS around send</translation>
    </message>
    <message>
        <source>启用前导码</source>
        <translation>Use preamble</translation>
    </message>
    <message>
        <source>接收字符数:</source>
        <translation>Rx count:</translation>
    </message>
    <message>
        <source>清除接收窗口</source>
        <translation>Clear the receive pane</translation>
    </message>
    <message>
        <source>打开历史</source>
        <translation>Open a history file</translation>
    </message>
    <message>
        <source>保存接收</source>
        <translation>Save what was received</translation>
    </message>
    <message>
        <source>暂停接收</source>
        <translation>Pause receiving</translation>
    </message>
    <message>
        <source>串口资料</source>
        <translation>Serial port chart</translation>
    </message>
    <message>
        <source>Modem资料</source>
        <translation>Modem chart</translation>
    </message>
    <message>
        <source>奥文网页</source>
        <translation>Documentation</translation>
    </message>
    <message>
        <source>帮助</source>
        <translation>Help</translation>
    </message>
    <message>
        <source>退出系统</source>
        <translation>Exit</translation>
    </message>
    <message>
        <source>通讯端口: COM%1

通讯速率: %2

数据校验: %3

数 据 位: %4

停 止 位: %5</source>
        <translation>Port:      COM%1

Baud rate: %2

Parity:    %3

Data bits: %4

Stop bits: %5</translation>
    </message>
    <message>
        <source>环回插头</source>
        <translation>loopback plug</translation>
    </message>
    <message>
        <source>%1: 已断开</source>
        <translation>%1: released</translation>
    </message>
    <message>
        <source>%1 已断开, 其他程序可以使用该设备 (参数设置 → 连接)</source>
        <translation>%1 is released: another program may use the device (Settings → Connect).</translation>
    </message>
    <message>
        <source>端口未打开</source>
        <translation>The port is not open</translation>
    </message>
    <message>
        <source>端口状态 (!)</source>
        <translation>Port status (!)</translation>
    </message>
    <message>
        <source>服务器: %1</source>
        <translation>Server: %1</translation>
    </message>
    <message>
        <source>%1 (网络端口 %2)</source>
        <translation>%1 (network port, %2)</translation>
    </message>
    <message>
        <source>%1: 未映射设备</source>
        <translation>%1: no device mapped</translation>
    </message>
    <message>
        <source>%1 没有映射到任何设备 (参数设置 → 端口映射...)</source>
        <translation>%1 leads to no device (Settings → Port map...)</translation>
    </message>
    <message>
        <source>端口自动重连.</source>
        <translation>Kestrel keeps trying.</translation>
    </message>
    <message>
        <source>连接被拒绝</source>
        <translation>connection refused</translation>
    </message>
    <message>
        <source>服务器没有在该端口监听 (ser2net 未运行?).
端口自动重连.</source>
        <translation>Nothing listens on that port (is ser2net running?).
Kestrel keeps trying.</translation>
    </message>
    <message>
        <source>主机不可达</source>
        <translation>host unreachable</translation>
    </message>
    <message>
        <source>连接超时</source>
        <translation>connection timed out</translation>
    </message>
    <message>
        <source>正在连接</source>
        <translation>connecting</translation>
    </message>
    <message>
        <source>连接断开</source>
        <translation>connection lost</translation>
    </message>
    <message>
        <source>主机名无法解析</source>
        <translation>host name not found</translation>
    </message>
    <message>
        <source>检查主机名.</source>
        <translation>Check the host name: it does not resolve.</translation>
    </message>
    <message>
        <source>地址格式错误</source>
        <translation>malformed address</translation>
    </message>
    <message>
        <source>应为 rfc2217://主机:端口 或 tcp://主机:端口.</source>
        <translation>Expected rfc2217://host:port or tcp://host:port.</translation>
    </message>
    <message>
        <source>网络错误</source>
        <translation>network error</translation>
    </message>
    <message>
        <source>%1: 设备不存在</source>
        <translation>%1: no such device</translation>
    </message>
    <message>
        <source>设备没有接上, 或已拔出. 接好后端口自动打开;
或在 参数设置 → 端口映射... 中选择别的设备.</source>
        <translation>The device is not plugged in, or was pulled out. The port opens by itself once it is back;
or choose another device in Settings → Port map...</translation>
    </message>
    <message>
        <source>%1: 无权限 (dialout 组)</source>
        <translation>%1: no permission (dialout group)</translation>
    </message>
    <message>
        <source>当前用户不在 dialout 组: sudo adduser $USER dialout, 然后重新登录.</source>
        <translation>You are not in the dialout group: sudo adduser $USER dialout, then log in again.</translation>
    </message>
    <message>
        <source>%1: 设备被占用</source>
        <translation>%1: device busy</translation>
    </message>
    <message>
        <source>另一个程序正在使用该端口.</source>
        <translation>Another program holds the port.</translation>
    </message>
    <message>
        <source>主页地址: %1 
电子邮箱：%2</source>
        <translation>Home page: %1 
E-mail: %2</translation>
    </message>
    <message>
        <source>说明书 README.md 的章节:</source>
        <translation>Chapters of the manual README.md:</translation>
    </message>
    <message>
        <source>串口资料, Modem资料: 状态面板上的按钮.</source>
        <translation>Serial port and modem charts: the buttons on the status panel.</translation>
    </message>
    <message>
        <source>文本文件(*.txt)</source>
        <translation>Text files(*.txt)</translation>
    </message>
    <message>
        <source>时间         文本 (文本显示)</source>
        <translation>Time         Text (text view)</translation>
    </message>
    <message>
        <source>文本 (文本显示)</source>
        <translation>Text (text view)</translation>
    </message>
    <message>
        <source>系统: %1</source>
        <translation>System: %1</translation>
    </message>
    <message>
        <source>%1 不是普通文件, 不能保存到它。</source>
        <translation>%1 is not a regular file; cannot save to it.</translation>
    </message>
    <message>
        <source>%1 不是普通文件, 不能打开。</source>
        <translation>%1 is not a regular file; cannot open it.</translation>
    </message>
    <message>
        <source>管道没有读取方</source>
        <translation>the pipe has no reader</translation>
    </message>
    <message>
        <source>  丢弃 %1 字节</source>
        <translation>  %1 bytes dropped</translation>
    </message>
    <message>
        <source>  文件已被删除</source>
        <translation>  file deleted</translation>
    </message>
    <message>
        <source>%1: 使用默认设置, 设置不会保存。</source>
        <translation>%1: using the default settings; the settings will not be saved.</translation>
    </message>
    <message>
        <source>%1: 使用默认设置。</source>
        <translation>%1: using the default settings.</translation>
    </message>
    <message>
        <source>设置未保存: %1</source>
        <translation>Settings not saved: %1</translation>
    </message>
    <message>
        <source>选中的内容超过 %1 MB: 只复制了 %2 行中的前 %3 行, 其后的内容未复制。</source>
        <translation>The selection is over %1 MB: of its %2 lines only the first %3 were copied; the rest was not.</translation>
    </message>
    <message>
        <source>查找(&amp;F)</source>
        <translation>&amp;Find</translation>
    </message>
    <message>
        <source>波形(&amp;P)...</source>
        <translation>&amp;Plot...</translation>
    </message>
    <message>
        <source>● 记录: </source>
        <translation>● Log: </translation>
    </message>
    <message>
        <source>流控: %1</source>
        <translation>Flow: %1</translation>
    </message>
    <message>
        <source>%1 MB</source>
        <translation>%1 MB</translation>
    </message>
</context>
<context>
    <name>THistoryJob</name>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
</context>
<context>
    <name>TPlotWindow</name>
    <message>
        <source>数据来源:</source>
        <translation>Values from:</translation>
    </message>
    <message>
        <source>文本行</source>
        <translation>Text lines</translation>
    </message>
    <message>
        <source>二进制帧</source>
        <translation>Binary frames</translation>
    </message>
    <message>
        <source>帧格式:</source>
        <translation>Frame layout:</translation>
    </message>
    <message>
        <source>每个字段: 偏移 类型 [比例] [名称], 以分号分隔; 类型为 u8 i8 u16 i16 u32 i32 f32, 多字节类型后加 le 或 be</source>
        <translation>Each field: offset type [scale] [name], separated by semicolons; the types are u8 i8 u16 i16 u32 i32 f32, with le or be after the multi-byte ones</translation>
    </message>
    <message>
        <source>时间范围:</source>
        <translation>Time span:</translation>
    </message>
    <message>
        <source>最近 10 秒</source>
        <translation>Last 10 s</translation>
    </message>
    <message>
        <source>最近 1 分钟</source>
        <translation>Last minute</translation>
    </message>
    <message>
        <source>最近 10 分钟</source>
        <translation>Last 10 minutes</translation>
    </message>
    <message>
        <source>整个会话</source>
        <translation>Whole session</translation>
    </message>
    <message>
        <source>自动纵轴</source>
        <translation>Auto y</translation>
    </message>
    <message>
        <source>纵轴最小值</source>
        <translation>Lowest y</translation>
    </message>
    <message>
        <source>纵轴最大值</source>
        <translation>Highest y</translation>
    </message>
    <message>
        <source>暂停</source>
        <translation>Pause</translation>
    </message>
    <message>
        <source>清除</source>
        <translation>Clear</translation>
    </message>
    <message>
        <source>导出 CSV...</source>
        <translation>Export CSV...</translation>
    </message>
    <message>
        <source>导出 PNG...</source>
        <translation>Export PNG...</translation>
    </message>
    <message>
        <source>名称</source>
        <translation>Name</translation>
    </message>
    <message>
        <source>最新</source>
        <translation>Latest</translation>
    </message>
    <message>
        <source>最小</source>
        <translation>Min</translation>
    </message>
    <message>
        <source>最大</source>
        <translation>Max</translation>
    </message>
    <message>
        <source>波形</source>
        <translation>Plot</translation>
    </message>
    <message>
        <source>第 %1 个字段不能读</source>
        <translation>Field %1 does not read</translation>
    </message>
    <message>
        <source>请输入帧格式</source>
        <translation>Enter the frame layout</translation>
    </message>
    <message>
        <source>帧头未开启: 收到的每块数据当作一帧</source>
        <translation>Preamble off: each block received counts as a frame</translation>
    </message>
    <message>
        <source>%1 个字段</source>
        <translation>%1 fields</translation>
    </message>
    <message>
        <source>截短的帧: %1</source>
        <translation>Frames cut short: %1</translation>
    </message>
    <message>
        <source>不能读的行: %1</source>
        <translation>Lines that do not read: %1</translation>
    </message>
    <message>
        <source>超出内存上限, 已丢弃最早的 %1 点</source>
        <translation>Over the memory limit, the oldest %1 points dropped</translation>
    </message>
    <message>
        <source>数据来得太快, 跳过 %1 字节</source>
        <translation>Data came too fast, %1 bytes skipped</translation>
    </message>
    <message>
        <source>CSV 文件(*.csv)</source>
        <translation>CSV files(*.csv)</translation>
    </message>
    <message>
        <source>PNG 图片(*.png)</source>
        <translation>PNG pictures(*.png)</translation>
    </message>
    <message>
        <source>正在导出 %1</source>
        <translation>Exporting %1</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>不能导出到文件 %1: %2</source>
        <translation>Cannot export to the file %1: %2</translation>
    </message>
</context>
<context>
    <name>TProtocolPage</name>
    <message>
        <source>定时发送</source>
        <translation>Timed send</translation>
    </message>
    <message>
        <source>帧格式    路由包         数据包   </source>
        <translation>Frame     Route            Data</translation>
    </message>
    <message>
        <source>源</source>
        <translation>S</translation>
    </message>
    <message>
        <source>源地址</source>
        <translation>Source address</translation>
    </message>
    <message>
        <source>目</source>
        <translation>D</translation>
    </message>
    <message>
        <source>目标地址</source>
        <translation>Destination address</translation>
    </message>
    <message>
        <source>命</source>
        <translation>C</translation>
    </message>
    <message>
        <source>命令字</source>
        <translation>Command</translation>
    </message>
    <message>
        <source>备</source>
        <translation>R</translation>
    </message>
    <message>
        <source>4Byte备用</source>
        <translation>4 reserve bytes</translation>
    </message>
    <message>
        <source>发送报文</source>
        <translation>Send frame</translation>
    </message>
    <message>
        <source>间隔时间(毫秒)</source>
        <translation>Interval (ms)</translation>
    </message>
    <message>
        <source>开始</source>
        <translation>Start</translation>
    </message>
    <message>
        <source>停止</source>
        <translation>Stop</translation>
    </message>
    <message>
        <source>最多%1个字节, 未发送</source>
        <translation>At most %1 bytes; not sent</translation>
    </message>
    <message>
        <source>最多%1个字节 (现有%2个), 未发送</source>
        <translation>At most %1 bytes (this is %2); not sent</translation>
    </message>
</context>
<context>
    <name>TReceivePane</name>
    <message>
        <source>▼ 下面有新数据</source>
        <translation>▼ new data below</translation>
    </message>
    <message>
        <source>复制</source>
        <translation>Copy</translation>
    </message>
    <message>
        <source>全选</source>
        <translation>Select all</translation>
    </message>
    <message>
        <source>向上滚动时保持位置 (滚动锁定)(&amp;K)</source>
        <translation>Scroll loc&amp;k (hold the view when scrolled up)</translation>
    </message>
    <message>
        <source>文本显示(&amp;X)</source>
        <translation>Show as te&amp;xt</translation>
    </message>
    <message>
        <source>文本显示时间戳(&amp;S)</source>
        <translation>Time &amp;stamps in the text view</translation>
    </message>
</context>
<context>
    <name>TScriptApi</name>
    <message>
        <source>数据太长</source>
        <translation>Too many bytes</translation>
    </message>
    <message>
        <source>字节须为0到255的整数，第%1个不是</source>
        <translation>Bytes are whole numbers from 0 to 255; number %1 is not</translation>
    </message>
    <message>
        <source>须为文本、字节数组或Uint8Array</source>
        <translation>Expected text, an array of bytes or a Uint8Array</translation>
    </message>
    <message>
        <source>脚本未及读取，丢弃了%1字节</source>
        <translation>The script did not keep up: %1 bytes let go</translation>
    </message>
    <message>
        <source>端口未打开</source>
        <translation>The port is not open</translation>
    </message>
    <message>
        <source>已停止</source>
        <translation>Stopped</translation>
    </message>
    <message>
        <source>等待“%1”超时（%2毫秒）</source>
        <translation>Timed out waiting for &quot;%1&quot; (%2 ms)</translation>
    </message>
    <message>
        <source>脚本判定失败</source>
        <translation>The script failed</translation>
    </message>
    <message>
        <source>波特率须为1到99999999的整数</source>
        <translation>The baud rate is a whole number from 1 to 99999999</translation>
    </message>
    <message>
        <source>校验须为none、odd、even、mark或space</source>
        <translation>The parity is none, odd, even, mark or space</translation>
    </message>
    <message>
        <source>%1须为0到255的整数</source>
        <translation>%1 is a whole number from 0 to 255</translation>
    </message>
    <message>
        <source>reserve最多4个字节</source>
        <translation>reserve takes at most 4 bytes</translation>
    </message>
    <message>
        <source>路由最多%1字节，数据最多%2字节</source>
        <translation>The route takes at most %1 bytes, the data at most %2</translation>
    </message>
    <message>
        <source>onReceive的第二个参数须为函数</source>
        <translation>The second argument of onReceive is a function</translation>
    </message>
    <message>
        <source>test的第二个参数须为函数</source>
        <translation>The second argument of test is a function</translation>
    </message>
    <message>
        <source>test不能嵌套</source>
        <translation>test blocks do not nest</translation>
    </message>
    <message>
        <source>失败：%1 — %2:%3: %4</source>
        <translation>FAIL: %1 — %2:%3: %4</translation>
    </message>
    <message>
        <source>通过：%1</source>
        <translation>PASS: %1</translation>
    </message>
</context>
<context>
    <name>TScriptRunner</name>
    <message>
        <source>已停止</source>
        <translation>Stopped</translation>
    </message>
    <message>
        <source>测试“%1”失败：%2</source>
        <translation>Test &quot;%1&quot; failed: %2</translation>
    </message>
    <message>
        <source>无法打开脚本文件：%1</source>
        <translation>Cannot open the script: %1</translation>
    </message>
    <message>
        <source>脚本须为普通文件</source>
        <translation>A script is a regular file</translation>
    </message>
    <message>
        <source>脚本文件太大（超过%1 MiB）</source>
        <translation>The script is too big (over %1 MiB)</translation>
    </message>
    <message>
        <source>无法读取脚本文件：%1</source>
        <translation>Cannot read the script: %1</translation>
    </message>
    <message>
        <source>脚本主体已结束，onReceive继续应答，直到停止</source>
        <translation>The script&apos;s body has ended; onReceive goes on answering until Stop</translation>
    </message>
</context>
<context>
    <name>TScriptWindow</name>
    <message>
        <source>脚本(*.js);;所有文件(*)</source>
        <translation>Scripts (*.js);;All files (*)</translation>
    </message>
    <message>
        <source>脚本与自动应答</source>
        <translation>Scripts and automatic replies</translation>
    </message>
    <message>
        <source>脚本</source>
        <translation>Script</translation>
    </message>
    <message>
        <source>自动应答</source>
        <translation>Automatic replies</translation>
    </message>
    <message>
        <source>打开...</source>
        <translation>Open...</translation>
    </message>
    <message>
        <source>保存...</source>
        <translation>Save...</translation>
    </message>
    <message>
        <source>运行</source>
        <translation>Run</translation>
    </message>
    <message>
        <source>运行脚本 (F9)</source>
        <translation>Run the script (F9)</translation>
    </message>
    <message>
        <source>停止</source>
        <translation>Stop</translation>
    </message>
    <message>
        <source>添加规则</source>
        <translation>Add rule</translation>
    </message>
    <message>
        <source>删除规则</source>
        <translation>Remove rule</translation>
    </message>
    <message>
        <source>启用</source>
        <translation>On</translation>
    </message>
    <message>
        <source>匹配方式</source>
        <translation>Match as</translation>
    </message>
    <message>
        <source>收到</source>
        <translation>Received</translation>
    </message>
    <message>
        <source>应答方式</source>
        <translation>Reply as</translation>
    </message>
    <message>
        <source>应答</source>
        <translation>Reply</translation>
    </message>
    <message>
        <source>延时/毫秒</source>
        <translation>Delay/ms</translation>
    </message>
    <message>
        <source>次数</source>
        <translation>Fired</translation>
    </message>
    <message>
        <source>未命名</source>
        <translation>Untitled</translation>
    </message>
    <message>
        <source>%1 不是普通文件, 不能保存到它。</source>
        <translation>%1 is not a regular file; cannot save to it.</translation>
    </message>
    <message>
        <source>无法保存脚本：%1</source>
        <translation>Cannot save the script: %1</translation>
    </message>
    <message>
        <source>运行中...</source>
        <translation>Running...</translation>
    </message>
    <message>
        <source>脚本结束（%1秒）</source>
        <translation>The script ended (%1 s)</translation>
    </message>
    <message>
        <source>文本</source>
        <translation>Text</translation>
    </message>
    <message>
        <source>十六进制</source>
        <translation>Hex</translation>
    </message>
    <message>
        <source>正则表达式</source>
        <translation>Regular expression</translation>
    </message>
</context>
<context>
    <name>TSendPage</name>
    <message>
        <source>一行最多%1个字节</source>
        <translation>At most %1 bytes a line</translation>
    </message>
    <message>
        <source>你需要将RTS与DTR设置为ON.</source>
        <translation>Set RTS and DTR to ON.</translation>
    </message>
    <message>
        <source>停止发送</source>
        <translation>Stop sending</translation>
    </message>
    <message>
        <source>停止发送, 丢弃尚未发出的数据 (Esc)</source>
        <translation>Stop sending and drop what has not gone out (Esc)</translation>
    </message>
    <message>
        <source>发送字符(&amp;C)</source>
        <translation>Send &amp;characters</translation>
    </message>
    <message>
        <source>发送字符串(&amp;S)</source>
        <translation>Send &amp;lines</translation>
    </message>
    <message>
        <source>发送字符串(&amp;Modem)</source>
        <translation>Send lines (&amp;Modem)</translation>
    </message>
    <message>
        <source>发送十六进制序列(&amp;H)</source>
        <translation>Send &amp;hex bytes</translation>
    </message>
    <message>
        <source>发送字符串的行尾(&amp;N)</source>
        <translation>Li&amp;ne ending</translation>
    </message>
    <message>
        <source>无 (只发送这一行)</source>
        <translation>None (the line alone)</translation>
    </message>
    <message>
        <source>清除发送窗口(&amp;E)</source>
        <translation>Cl&amp;ear the send pane</translation>
    </message>
    <message>
        <source>打开发送命令(&amp;L)...</source>
        <translation>&amp;Load commands...</translation>
    </message>
    <message>
        <source>保存发送命令(&amp;B)...</source>
        <translation>Save commands (&amp;B)...</translation>
    </message>
    <message>
        <source>发送文件(&amp;F)...</source>
        <translation>Send a &amp;file...</translation>
    </message>
    <message>
        <source>把一个文件的字节原样发出</source>
        <translation>Send a file&apos;s bytes as they are</translation>
    </message>
    <message>
        <source>正在发送文件</source>
        <translation>A file is being sent</translation>
    </message>
    <message>
        <source>发送时控制RTS开启, 不能发送文件</source>
        <translation>RTS while sending is on: no file sends under RTS control</translation>
    </message>
    <message>
        <source>发送文件...</source>
        <translation>Send a file...</translation>
    </message>
    <message>
        <source>所有文件(*)</source>
        <translation>All files(*)</translation>
    </message>
    <message>
        <source>不能发送文件 %1: %2</source>
        <translation>Cannot send the file %1: %2</translation>
    </message>
    <message>
        <source>正在发送文件 %1: %2 %, 还有 %3 字节</source>
        <translation>Sending the file %1: %2 %, %3 bytes to go</translation>
    </message>
    <message>
        <source>文件 %1 未发完: %2; %3 字节未发出</source>
        <translation>The file %1 was not sent whole: %2; %3 bytes did not go out</translation>
    </message>
    <message>
        <source>文件 %1 已发送: %2 字节</source>
        <translation>The file %1 was sent: %2 bytes</translation>
    </message>
    <message>
        <source>此字符不在GBK代码页中, 未发送</source>
        <translation>This character is not in code page GBK; not sent</translation>
    </message>
    <message>
        <source>此字符不在GBK代码页中</source>
        <translation>This character is not in code page GBK</translation>
    </message>
    <message>
        <source>端口未打开, 未发送</source>
        <translation>The port is not open; not sent</translation>
    </message>
    <message>
        <source>上一块数据仍在按RTS控制发送, 未发送</source>
        <translation>An RTS-controlled send is under way; not sent</translation>
    </message>
    <message>
        <source>发送队列已满, 未发送</source>
        <translation>The send queue is full; not sent</translation>
    </message>
    <message>
        <source>正在发送: 还有 %1 字节</source>
        <translation>Sending: %1 bytes to go</translation>
    </message>
    <message>
        <source>已停止: %1 字节未发出</source>
        <translation>Stopped: %1 bytes not sent</translation>
    </message>
    <message>
        <source>这一行含有GBK代码页以外的字符, 未发送</source>
        <translation>The line has characters outside code page GBK; not sent</translation>
    </message>
    <message>
        <source>一行最多%1个字节, 未发送</source>
        <translation>At most %1 bytes a line; not sent</translation>
    </message>
    <message>
        <source>打开发送命令...</source>
        <translation>Load commands...</translation>
    </message>
    <message>
        <source>打开文件错误!</source>
        <translation>Open File Error!</translation>
    </message>
    <message>
        <source>保存发送命令...</source>
        <translation>Save commands...</translation>
    </message>
    <message>
        <source>字符</source>
        <translation>Char</translation>
    </message>
    <message>
        <source>字符串</source>
        <translation>Line</translation>
    </message>
    <message>
        <source>Modem</source>
        <translation>Modem</translation>
    </message>
    <message>
        <source>Hex</source>
        <translation>Hex</translation>
    </message>
    <message>
        <source>发送模式与行尾</source>
        <translation>Send mode and line ending</translation>
    </message>
    <message>
        <source>脚本与自动应答(&amp;R)...</source>
        <translation>Scripts and automatic &amp;replies...</translation>
    </message>
</context>
<context>
    <name>TSettingsPage</name>
    <message>
        <source>快捷键定义</source>
        <translation>Keys</translation>
    </message>
    <message>
        <source>F1  保留    </source>
        <translation>F1  reserved</translation>
    </message>
    <message>
        <source>F2  设置串行通讯端口</source>
        <translation>F2  serial port</translation>
    </message>
    <message>
        <source>F3  设置通讯波特率</source>
        <translation>F3  baud rate</translation>
    </message>
    <message>
        <source>F4  设置通讯校验位</source>
        <translation>F4  parity</translation>
    </message>
    <message>
        <source>F5  设置RTS    </source>
        <translation>F5  RTS</translation>
    </message>
    <message>
        <source>F6  设置DTR</source>
        <translation>F6  DTR</translation>
    </message>
    <message>
        <source>F7  设置发送控制RTS</source>
        <translation>F7  RTS while sending</translation>
    </message>
    <message>
        <source>F8  设置控制前导码</source>
        <translation>F8  preamble</translation>
    </message>
    <message>
        <source>F9  清除发送接收窗口数据</source>
        <translation>F9  clear the send and receive panes</translation>
    </message>
    <message>
        <source>F10 暂停接收</source>
        <translation>F10 pause receiving</translation>
    </message>
    <message>
        <source>F12 切换发送模式</source>
        <translation>F12 next send mode</translation>
    </message>
    <message>
        <source>Alt+1 发送窗口</source>
        <translation>Alt+1 send page</translation>
    </message>
    <message>
        <source>Alt+2 自动发送窗口</source>
        <translation>Alt+2 timed send page</translation>
    </message>
    <message>
        <source>Alt+3 参数设置</source>
        <translation>Alt+3 settings</translation>
    </message>
    <message>
        <source>Alt+4 无线通讯协议V0.8</source>
        <translation>Alt+4 radio protocol V0.8</translation>
    </message>
    <message>
        <source>端口设置</source>
        <translation>Port</translation>
    </message>
    <message>
        <source>通讯端口:</source>
        <translation>Port:</translation>
    </message>
    <message>
        <source>通讯速率:</source>
        <translation>Baud rate:</translation>
    </message>
    <message>
        <source>校验方式:</source>
        <translation>Parity:</translation>
    </message>
    <message>
        <source>可以输入列表以外的速率</source>
        <translation>Any rate the device takes can be typed</translation>
    </message>
    <message>
        <source>更新(&amp;U)</source>
        <translation>&amp;Update</translation>
    </message>
    <message>
        <source>端口映射...</source>
        <translation>Port map...</translation>
    </message>
    <message>
        <source>COM1..COM6 各自打开的设备</source>
        <translation>Which device each of COM1..COM6 opens</translation>
    </message>
    <message>
        <source>线路</source>
        <translation>Line setup</translation>
    </message>
    <message>
        <source>数据位, 停止位, 流控制</source>
        <translation>Data bits, stop bits, flow control</translation>
    </message>
    <message>
        <source>界面语言:</source>
        <translation>Language:</translation>
    </message>
    <message>
        <source>未映射</source>
        <translation>not mapped</translation>
    </message>
    <message>
        <source>环回插头</source>
        <translation>loopback plug</translation>
    </message>
    <message>
        <source>网络端口地址格式错误, 应为 rfc2217://主机:端口 或 tcp://主机:端口.
(%1: %2)</source>
        <translation>Malformed network port: expected rfc2217://host:port or tcp://host:port.
(%1: %2)</translation>
    </message>
    <message>
        <source>端口映射 (COM → 设备)</source>
        <translation>Port map (COM → device)</translation>
    </message>
    <message>
        <source>每个端口打开的设备: 路径, loopback (环回插头), 或网络上的端口:
rfc2217://主机:端口 (ser2net, 可设置速率与 RTS/DTR), tcp://主机:端口 (只传数据).</source>
        <translation>Each port&apos;s device: a path, loopback (the loopback plug), or a port on another machine:
rfc2217://host:port (ser2net; rate, RTS and DTR too) or tcp://host:port (bytes only).</translation>
    </message>
    <message>
        <source>连接</source>
        <translation>Reconnect</translation>
    </message>
    <message>
        <source>断开</source>
        <translation>Release</translation>
    </message>
    <message>
        <source>重新打开端口</source>
        <translation>Take the port back (open it again)</translation>
    </message>
    <message>
        <source>关闭端口, 让其他程序使用该设备</source>
        <translation>Release the port: close it so that another program may use the device</translation>
    </message>
    <message>
        <source>线路设置</source>
        <translation>Line settings</translation>
    </message>
    <message>
        <source>无</source>
        <translation>None</translation>
    </message>
    <message>
        <source>数据位:</source>
        <translation>Data bits:</translation>
    </message>
    <message>
        <source>停止位:</source>
        <translation>Stop bits:</translation>
    </message>
    <message>
        <source>流控制:</source>
        <translation>Flow control:</translation>
    </message>
    <message>
        <source>设备不接受这些线路设置</source>
        <translation>The device refused these line settings</translation>
    </message>
</context>
<context>
    <name>settings</name>
    <message>
        <source>设置文件 %1 不是普通文件</source>
        <translation>The settings file %1 is not a regular file</translation>
    </message>
    <message>
        <source>设置文件 %1 无法读取: %2</source>
        <translation>The settings file %1 cannot be read: %2</translation>
    </message>
    <message>
        <source>设置文件 %1 无法写入: %2</source>
        <translation>The settings file %1 cannot be written: %2</translation>
    </message>
    <message>
        <source>设置文件夹 %1 无法创建</source>
        <translation>The settings folder %1 cannot be created</translation>
    </message>
    <message>
        <source>设置文件 %1 无法写入: 设置过大</source>
        <translation>The settings file %1 cannot be written: the settings are too large</translation>
    </message>
</context>
</TS>
