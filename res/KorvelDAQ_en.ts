<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_GB">
<context>
    <name>AboutDlg</name>
    <message>
        <source>关于...</source>
        <translation>About ...</translation>
    </message>
    <message>
        <source>       Korvel数据采集系统 2.1    

科维尔(Korvel)测控技术有限公司

© 2026 版权所有，保留一切权利</source>
        <translation>       Korvel Data Acquisition System 2.1    

Korvel Measurement and Control Technology Co., Ltd.

© 2026 Korvel. All rights reserved.</translation>
    </message>
</context>
<context>
    <name>MainWindow</name>
    <message>
        <source>文件(&amp;F)</source>
        <translation>File(&amp;F)</translation>
    </message>
    <message>
        <source>打开</source>
        <translation>Open</translation>
    </message>
    <message>
        <source>关闭</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>保存</source>
        <translation>Save</translation>
    </message>
    <message>
        <source>导出</source>
        <translation>Export</translation>
    </message>
    <message>
        <source>退出</source>
        <translation>Exit</translation>
    </message>
    <message>
        <source>帮助(&amp;H)</source>
        <translation>Help(&amp;H)</translation>
    </message>
    <message>
        <source>公司网址</source>
        <translation>Website Address</translation>
    </message>
    <message>
        <source>关于</source>
        <translation>About</translation>
    </message>
    <message>
        <source>Language</source>
        <translation>中文语言</translation>
    </message>
    <message>
        <source>选择曲线</source>
        <translation>Select curve</translation>
    </message>
    <message>
        <source>电容电压</source>
        <translation>Cap. U1</translation>
    </message>
    <message>
        <source>电流</source>
        <translation>Current</translation>
    </message>
    <message>
        <source>直流电压</source>
        <translation>DC U2</translation>
    </message>
    <message>
        <source>温度</source>
        <translation>Temp.</translation>
    </message>
    <message>
        <source>物理通道</source>
        <translation>Channel</translation>
    </message>
    <message>
        <source>采样频率</source>
        <translation>Sample</translation>
    </message>
    <message>
        <source>开始采集</source>
        <translation>Start collect</translation>
    </message>
    <message>
        <source>停止采集</source>
        <translation>Stop collect</translation>
    </message>
    <message>
        <source>全部显示</source>
        <translation>Show all</translation>
    </message>
    <message>
        <source>清空数据</source>
        <translation>Clear</translation>
    </message>
    <message>
        <source>时间(s)</source>
        <translation>Time(s)</translation>
    </message>
    <message>
        <source>文本数据文件 (*.txt)</source>
        <translation>data file (*.txt)</translation>
    </message>
    <message>
        <source>打开Korvel数据文件</source>
        <translation>open Korvel data file</translation>
    </message>
    <message>
        <source>数据文件(*.txt)</source>
        <translation>data file (*.txt)</translation>
    </message>
    <message>
        <source>导出Korvel数据</source>
        <translation>export Korvel data</translation>
    </message>
    <message>
        <source>数据文件 (*.csv)</source>
        <translation>export file (*.csv)</translation>
    </message>
    <message>
        <source>缩放显示</source>
        <translation>Zoom display</translation>
    </message>
    <message>
        <source>正在采集  %1 s  %2</source>
        <translation>Recording  %1 s  %2</translation>
    </message>
    <message>
        <source>已停止  %1 s  %2</source>
        <translation>Stopped  %1 s  %2</translation>
    </message>
    <message>
        <source>每通道 %1 个点</source>
        <translation>%1 points per channel</translation>
    </message>
    <message>
        <source>U1 %1、I %2、T %3、U2 %4 个点</source>
        <translation>U1 %1, I %2, T %3, U2 %4 points</translation>
    </message>
    <message>
        <source>无法开始采集：%1</source>
        <translation>Could not start acquisition: %1</translation>
    </message>
    <message>
        <source>采集已停止：%1
已记录的数据仍保留。</source>
        <translation>Acquisition stopped: %1
The data recorded so far is kept.</translation>
    </message>
    <message>
        <source>内存可用%1</source>
        <translation>memory for %1</translation>
    </message>
    <message>
        <source>不到 1 分钟</source>
        <translation>less than a minute</translation>
    </message>
    <message>
        <source>约 %1 分钟</source>
        <translation>about %1 min</translation>
    </message>
    <message>
        <source>约 %1 小时 %2 分钟</source>
        <translation>about %1 h %2 min</translation>
    </message>
    <message>
        <source>内存即将用完：按当前速度，%1后采集将自动停止。
已记录的数据会保留。</source>
        <translation>Memory is running low: at the current rate, acquisition stops by itself in %1.
The data recorded so far will be kept.</translation>
    </message>
    <message>
        <source>内存已达上限（%1 MB），采集已停止。
已记录的数据仍保留，可以保存；再次开始采集前请先保存并清空数据。</source>
        <translation>The memory limit (%1 MB) is reached; acquisition has stopped.
The data recorded so far is kept and can be saved; save and clear it before starting again.</translation>
    </message>
    <message>
        <source>请输入一个数字（例如 %1）。仍使用 %2。</source>
        <translation>Enter a number (for example %1). %2 stays in force.</translation>
    </message>
    <message>
        <source>最低温度必须低于最高温度 %1。仍使用 %2。</source>
        <translation>The minimum temperature must be below the maximum, %1. %2 stays in force.</translation>
    </message>
    <message>
        <source>最高温度必须高于最低温度 %1。仍使用 %2。</source>
        <translation>The maximum temperature must be above the minimum, %1. %2 stays in force.</translation>
    </message>
    <message>
        <source>采样频率只能是 1、10、100 或 1000。仍使用 %1。</source>
        <translation>Sample must be 1, 10, 100 or 1000. %1 stays in force.</translation>
    </message>
    <message>
        <source>添加标记</source>
        <translation>Add marker</translation>
    </message>
    <message>
        <source>标记与事件</source>
        <translation>Markers and events</translation>
    </message>
    <message>
        <source>限值与报警</source>
        <translation>Limits and alarms</translation>
    </message>
    <message>
        <source>运行信息</source>
        <translation>Run information</translation>
    </message>
    <message>
        <source>标记的文字（按 Enter 确认）：</source>
        <translation>Marker text (Enter confirms):</translation>
    </message>
    <message>
        <source>无法保存 %1：%2</source>
        <translation>Could not save %1: %2</translation>
    </message>
    <message>
        <source>已保存 %1 到 %2，但无法写入注释文件 %3：%4</source>
        <translation>Saved %1 to %2, but could not write the notes file %3: %4</translation>
    </message>
    <message>
        <source>注释文件 %1 有 %2 行无法读取，已跳过：%3</source>
        <translation>The notes file %1 has %2 lines that could not be read; they were skipped: %3</translation>
    </message>
    <message>
        <source>无法读取注释文件 %1：%2</source>
        <translation>Could not read the notes file %1: %2</translation>
    </message>
    <message>
        <source>已保存 %1 到 %2</source>
        <translation>Saved %1 to %2</translation>
    </message>
    <message>
        <source>无法导出 %1：%2</source>
        <translation>Could not export %1: %2</translation>
    </message>
    <message>
        <source>已导出 %1 到 %2</source>
        <translation>Exported %1 to %2</translation>
    </message>
    <message>
        <source>无法打开 %1：%2</source>
        <translation>Could not open %1: %2</translation>
    </message>
    <message>
        <source>已从 %2 读取 %1</source>
        <translation>Read %1 from %2</translation>
    </message>
    <message>
        <source>%1 第 %2 行：%3。
%4，此前读取的点已保留。</source>
        <translation>%1, line %2: %3.
%4; the points read before it were kept.</translation>
    </message>
    <message>
        <source>这一行不是段名，读取到此为止</source>
        <translation>this line is not a section name; reading stopped there</translation>
    </message>
    <message>
        <source>第一个段名之前有数据行，读取到此为止</source>
        <translation>a line comes before the first section name; reading stopped there</translation>
    </message>
    <message>
        <source>读取出错（%1）</source>
        <translation>read error (%1)</translation>
    </message>
    <message>
        <source>最近的录制</source>
        <translation>Recent Recordings</translation>
    </message>
    <message>
        <source>（无）</source>
        <translation>(none)</translation>
    </message>
    <message>
        <source>打开录制文件夹</source>
        <translation>Open Recordings Folder</translation>
    </message>
    <message>
        <source>  录制文件已停止写入</source>
        <translation>  Recording file no longer written</translation>
    </message>
    <message>
        <source>  录制文件：%1</source>
        <translation>  Recording file: %1</translation>
    </message>
    <message>
        <source>录制 %1 已停止写入：%2
内存中的数据不受影响。</source>
        <translation>The recording %1 is no longer being written: %2
The data in memory is not affected.</translation>
    </message>
    <message>
        <source>%1：%2
%3。</source>
        <translation>%1: %2
%3.</translation>
    </message>
    <message>
        <source>%1 行不合格式，其中 %2。</source>
        <translation>%1 lines do not follow the format: %2.</translation>
    </message>
    <message>
        <source>%1 行%2</source>
        <translation>%2 (%1 lines)</translation>
    </message>
    <message>
        <source>；</source>
        <translation>; </translation>
    </message>
    <message>
        <source>字段不是数字，读作 0</source>
        <translation>a field that is no number, read as 0</translation>
    </message>
    <message>
        <source>字段为空，读作 0</source>
        <translation>an empty field, read as 0</translation>
    </message>
    <message>
        <source>字段数不对，整行跳过</source>
        <translation>the wrong number of fields, the line skipped</translation>
    </message>
    <message>
        <source>数值超出范围，读作无穷大</source>
        <translation>a number beyond the range, read as infinity</translation>
    </message>
    <message>
        <source>数值超出范围，读作 0</source>
        <translation>a number too close to 0 for the range, read as 0</translation>
    </message>
    <message>
        <source>第 %1 行：%2</source>
        <translation>line %1: %2</translation>
    </message>
    <message>
        <source>……还有 %1 行</source>
        <translation>… and %1 more lines</translation>
    </message>
    <message>
        <source>无法打开浏览器。公司网址：
%1</source>
        <translation>No web browser could be opened. The company's web site:
%1</translation>
    </message>
    <message>
        <source>任务总是使用四个固定输入 Dev1/ai0 到 Dev1/ai3</source>
        <translation>The task always uses the four fixed inputs Dev1/ai0 to Dev1/ai3</translation>
    </message>
    <message>
        <source>温度范围太大，换算后的温度会溢出。仍使用 %1 到 %2。</source>
        <translation>The temperature range is too wide: the temperatures would overflow. %1 to %2 stays in force.</translation>
    </message>
    <message>
        <source>温度范围太大，换算后的温度超出图表能显示的范围。仍使用 %1 到 %2。</source>
        <translation>The temperature range is too wide: the temperatures would leave the plot&apos;s range. %1 to %2 stays in force.</translation>
    </message>
    <message>
        <source>采集卡的时钟偏差 %1%：每秒 %2 次扫描，而不是 %3 次。
时间轴仍按采集卡的时钟，数据不变；请用 daqcheck 检查采集卡。</source>
        <translation>The card&apos;s clock is off by %1%: %2 scans per second instead of %3.
The time axis still follows the card&apos;s clock and the data is unchanged; check the card with daqcheck.</translation>
    </message>
    <message>
        <source>采集卡时钟偏差 %1%</source>
        <translation>card clock off by %1%</translation>
    </message>
    <message>
        <source>磁盘写入跟不上，录制已停止写入</source>
        <translation>the disk does not keep up; the recording is no longer written</translation>
    </message>
    <message>
        <source>写入后读回的文件与写入的内容不一致</source>
        <translation>the file read back does not hold what was written</translation>
    </message>
    <message>
        <source>录制 %1 已停止写入：%2
采集继续进行，内存中的数据不受影响。</source>
        <translation>The recording %1 is no longer being written: %2
Acquisition goes on; the data in memory is not affected.</translation>
    </message>
    <message>
        <source>上次运行没有正常结束，它的录制已恢复到：
%1</source>
        <translation>The last run did not end normally. Its recording was recovered to:
%1</translation>
    </message>
    <message>
        <source>上次退出时磁盘拒绝写入录制的数据文件。录制现已恢复到：
%1</source>
        <translation>At the last exit the disk refused the recording&apos;s data file. The recording has now been recovered to:
%1</translation>
    </message>
    <message>
        <source>上次退出时磁盘拒绝写入录制的数据文件（%1）。录制现已恢复到：
%2</source>
        <translation>At the last exit the disk refused the recording&apos;s data file (%1). The recording has now been recovered to:
%2</translation>
    </message>
    <message>
        <source>上次运行留下的录制日志中没有可读的数据点，它没有被删除，已保留为：
%1</source>
        <translation>The recording journal the last run left holds no readable point. It was not deleted but kept as:
%1</translation>
    </message>
    <message>
        <source>上次运行留下的录制无法恢复到 %1：%2
下次启动时会再试一次。</source>
        <translation>The recording left by the last run could not be recovered to %1: %2
The next start tries again.</translation>
    </message>
    <message>
        <source>无法打开录制文件夹 %1</source>
        <translation>Could not open the recordings folder %1</translation>
    </message>
    <message>
        <source>Korvel数据采集系统 2.1</source>
        <translation>Korvel Data Acquisition System 2.1</translation>
    </message>
    <message>
        <source>复原显示</source>
        <translation>Restore view</translation>
    </message>
    <message>
        <source>左键拖动，中键缩放</source>
        <translation>Drag, wheel zoom</translation>
    </message>
    <message>
        <source>最高温度</source>
        <translation>Max °C</translation>
    </message>
    <message>
        <source>最低温度</source>
        <translation>Min °C</translation>
    </message>
    <message>
        <source>电压(V)         电流(A)          温度(℃)/10</source>
        <translation>Voltage(V)         Current(A)          Temperature(°C)/10</translation>
    </message>
    <message>
        <source>电容电压 U1 (V)</source>
        <translation>Capacitor voltage U1 (V)</translation>
    </message>
    <message>
        <source>电流 I (A)</source>
        <translation>Current I (A)</translation>
    </message>
    <message>
        <source>直流电压 U2 (V)</source>
        <translation>DC voltage U2 (V)</translation>
    </message>
    <message>
        <source>温度 T (℃)</source>
        <translation>Temperature T (°C)</translation>
    </message>
    <message>
        <source>物理通道（输入 ai0 至 ai3）</source>
        <translation>Physical channel (inputs ai0 to ai3)</translation>
    </message>
    <message>
        <source>左键拖动平移，滚轮缩放</source>
        <translation>Drag with the left button to pan; turn the wheel to zoom</translation>
    </message>
    <message>
        <source>最高温度（℃），输入 10 V 时的温度</source>
        <translation>Maximum temperature (°C), the temperature at an input of 10 V</translation>
    </message>
    <message>
        <source>最低温度（℃），输入 0 V 时的温度</source>
        <translation>Minimum temperature (°C), the temperature at an input of 0 V</translation>
    </message>
    <message>
        <source>保存Korvel文本数据</source>
        <translation>save Korvel data file</translation>
    </message>
    <message>
        <source>保存图片</source>
        <translation>Save picture</translation>
    </message>
    <message>
        <source>PNG 图片 (*.png)</source>
        <translation>PNG picture (*.png)</translation>
    </message>
    <message>
        <source>PDF 文档 (*.pdf)</source>
        <translation>PDF document (*.pdf)</translation>
    </message>
    <message>
        <source>无法绘制图片</source>
        <translation>the picture could not be drawn</translation>
    </message>
    <message>
        <source>无法保存图片 %1：%2</source>
        <translation>Could not save the picture %1: %2</translation>
    </message>
    <message>
        <source>已将图片保存到 %1</source>
        <translation>Saved the picture to %1</translation>
    </message>
    <message>
        <source>时间 %1 s</source>
        <translation>Time %1 s</translation>
    </message>
    <message>
        <source>不再跟随新数据：全部显示或复原显示恢复跟随</source>
        <translation>Not following new data: Show all or Restore view follows again</translation>
    </message>
    <message>
        <source>测量(&amp;M)</source>
        <translation>Measure(&amp;M)</translation>
    </message>
    <message>
        <source>测量光标</source>
        <translation>Measurement cursors</translation>
    </message>
    <message>
        <source>复制测量结果</source>
        <translation>Copy measurements</translation>
    </message>
    <message>
        <source>缩放到两光标之间</source>
        <translation>Zoom to cursors</translation>
    </message>
    <message>
        <source>保存两光标之间的数据</source>
        <translation>Save range between cursors</translation>
    </message>
    <message>
        <source>导出两光标之间的数据</source>
        <translation>Export range between cursors</translation>
    </message>
    <message>
        <source>测量结果已复制</source>
        <translation>Measurements copied</translation>
    </message>
    <message>
        <source>另一项文件操作还在进行。请等它完成，或在进度窗口中取消它。</source>
        <translation>Another file operation is still running. Wait for it to finish, or cancel it in its progress window.</translation>
    </message>
    <message>
        <source>文件操作还在进行。请等它完成，或在进度窗口中取消它，再退出。</source>
        <translation>A file operation is still running. Wait for it to finish, or cancel it in its progress window, before you exit.</translation>
    </message>
    <message>
        <source>正在导出 %1</source>
        <translation>Exporting %1</translation>
    </message>
    <message>
        <source>正在保存 %1</source>
        <translation>Saving %1</translation>
    </message>
    <message>
        <source>正在读取 %1</source>
        <translation>Reading %1</translation>
    </message>
    <message>
        <source>已取消导出，%1 未改动</source>
        <translation>Export cancelled; %1 is unchanged</translation>
    </message>
    <message>
        <source>已取消保存，%1 未改动</source>
        <translation>Save cancelled; %1 is unchanged</translation>
    </message>
    <message>
        <source>已取消打开 %1，未读入任何点</source>
        <translation>Opening %1 cancelled; no points were read in</translation>
    </message>
    <message>
        <source>循环分析</source>
        <translation>Cycle analysis</translation>
    </message>
    <message>
        <source>循环表已复制</source>
        <translation>Cycle table copied</translation>
    </message>
    <message>
        <source>正在分析已有的点，完成后表格随之更新。</source>
        <translation>Analysing the points held; the table follows when done.</translation>
    </message>
    <message>
        <source>新采集的点落在已有的点之间，实时分析无法跟随：停止采集后，表格将按全部点重新分析。</source>
        <translation>New points fall among the points held, which the live analysis cannot follow: the table is analysed again from all points when acquisition stops.</translation>
    </message>
    <message>
        <source>分析已取消：表格不含此前已有的点。在“设置…”中按“确定”可重新分析。</source>
        <translation>Analysis cancelled: the table leaves out the points held before. OK in &quot;Settings…&quot; analyses them again.</translation>
    </message>
    <message>
        <source>正在分析循环</source>
        <translation>Analysing cycles</translation>
    </message>
    <message>
        <source>导出循环分析</source>
        <translation>Export cycle analysis</translation>
    </message>
    <message>
        <source>已将循环表导出到 %1</source>
        <translation>Cycle table exported to %1</translation>
    </message>
    <message>
        <source>%1 已恢复正常（%2 s 时为 %3）</source>
        <translation>%1 back to normal (%3 at %2 s)</translation>
    </message>
    <message>
        <source>限值报警：%1 %2 %3（%4 s 时为 %5）</source>
        <translation>Limit alarm: %1 %2 %3 (%5 at %4 s)</translation>
    </message>
</context>
<context>
    <name>FileWork</name>
    <message>
        <source>正在取消……</source>
        <translation>Cancelling ...</translation>
    </message>
    <message>
        <source>文件操作</source>
        <translation>File operation</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>%1：%2 %</source>
        <translation>%1: %2 %</translation>
    </message>
</context>
<context>
    <name>MeasureWindow</name>
    <message>
        <source>测量</source>
        <translation>Measurements</translation>
    </message>
    <message>
        <source>两光标之间有无穷大的值（%1 个）</source>
        <translation>Infinite values between the cursors: %1</translation>
    </message>
    <message>
        <source>A 处的值</source>
        <translation>At A</translation>
    </message>
    <message>
        <source>B 处的值</source>
        <translation>At B</translation>
    </message>
    <message>
        <source>最小值</source>
        <translation>Min</translation>
    </message>
    <message>
        <source>最大值</source>
        <translation>Max</translation>
    </message>
    <message>
        <source>峰峰值</source>
        <translation>Peak-to-peak</translation>
    </message>
    <message>
        <source>平均值</source>
        <translation>Mean</translation>
    </message>
    <message>
        <source>均方根</source>
        <translation>RMS</translation>
    </message>
    <message>
        <source>点数</source>
        <translation>Points</translation>
    </message>
    <message>
        <source>电荷 Q (C)</source>
        <translation>Charge Q (C)</translation>
    </message>
    <message>
        <source>能量 E (J)</source>
        <translation>Energy E (J)</translation>
    </message>
    <message>
        <source>平均功率 P (W)</source>
        <translation>Mean power P (W)</translation>
    </message>
    <message>
        <source>电容 C (F)</source>
        <translation>Capacitance C (F)</translation>
    </message>
    <message>
        <source>电阻 R (Ω)</source>
        <translation>Resistance R (Ω)</translation>
    </message>
    <message>
        <source>量</source>
        <translation>Quantity</translation>
    </message>
</context>
<context>
    <name>CycleDrawing</name>
    <message>
        <source>充电</source>
        <translation>Charge</translation>
    </message>
    <message>
        <source>保持</source>
        <translation>Hold</translation>
    </message>
    <message>
        <source>放电</source>
        <translation>Discharge</translation>
    </message>
    <message>
        <source>静置</source>
        <translation>Rest</translation>
    </message>
</context>
<context>
    <name>CycleSettingsDlg</name>
    <message>
        <source>循环分析设置</source>
        <translation>Cycle analysis settings</translation>
    </message>
    <message>
        <source>额定电压 UR (V)</source>
        <translation>Rated voltage UR (V)</translation>
    </message>
    <message>
        <source>0 = 自动：取找到的最高保持电压</source>
        <translation>0 = automatic: the highest hold voltage found</translation>
    </message>
    <message>
        <source>上限 U_a / UR</source>
        <translation>Upper level U_a / UR</translation>
    </message>
    <message>
        <source>恒流电容的上交点，0 到 1 之间，高于下限</source>
        <translation>Upper crossing of the constant-current capacitance, between 0 and 1, above the lower level</translation>
    </message>
    <message>
        <source>下限 U_b / UR</source>
        <translation>Lower level U_b / UR</translation>
    </message>
    <message>
        <source>恒流电容的下交点，0 到 1 之间，低于上限</source>
        <translation>Lower crossing of the constant-current capacitance, between 0 and 1, below the upper level</translation>
    </message>
    <message>
        <source>电流阈值 (A)</source>
        <translation>Current threshold (A)</translation>
    </message>
    <message>
        <source>|I| 从此值起算作有电流；0 = 自动：最大 |I| 的 5 %</source>
        <translation>|I| from this value on counts as current flowing; 0 = automatic: 5 % of the largest |I|</translation>
    </message>
    <message>
        <source>最短阶段 (s)</source>
        <translation>Shortest phase (s)</translation>
    </message>
    <message>
        <source>更短的阶段算入相邻的阶段</source>
        <translation>Shorter phases belong to their neighbours</translation>
    </message>
    <message>
        <source>拟合延迟 (s)</source>
        <translation>Fit delay (s)</translation>
    </message>
    <message>
        <source>从电流切换到 ESR 拟合窗口开始的时间</source>
        <translation>Time from the current switch to the start of the ESR fit window</translation>
    </message>
    <message>
        <source>拟合长度 (s)</source>
        <translation>Fit length (s)</translation>
    </message>
    <message>
        <source>ESR 拟合窗口的长度</source>
        <translation>Length of the ESR fit window</translation>
    </message>
    <message>
        <source>回升延迟 (s)</source>
        <translation>Rebound delay (s)</translation>
    </message>
    <message>
        <source>放电结束后测量电压回升的时间</source>
        <translation>Time after the end of the discharge at which the rebound is measured</translation>
    </message>
    <message>
        <source>参考循环</source>
        <translation>Reference cycle</translation>
    </message>
    <message>
        <source>循环编号（从 1 起）；0 = 第一个完整的循环</source>
        <translation>Cycle number (from 1); 0 = the first full cycle</translation>
    </message>
    <message>
        <source>电容衰减限值 (%)</source>
        <translation>Capacitance fade limit (%)</translation>
    </message>
    <message>
        <source>电容比参考循环低这么多即为寿命终止</source>
        <translation>Capacitance this far below the reference cycle&apos;s means end of life</translation>
    </message>
    <message>
        <source>ESR 上升限值 (倍)</source>
        <translation>ESR rise limit (times)</translation>
    </message>
    <message>
        <source>ESR 达到参考循环的这么多倍即为寿命终止</source>
        <translation>ESR this many times the reference cycle&apos;s means end of life</translation>
    </message>
    <message>
        <source>循环起点</source>
        <translation>Cycles start with</translation>
    </message>
    <message>
        <source>充电</source>
        <translation>Charge</translation>
    </message>
    <message>
        <source>放电</source>
        <translation>Discharge</translation>
    </message>
    <message>
        <source>当前使用 %1 %2</source>
        <translation>In force: %1 %2</translation>
    </message>
    <message>
        <source>当前尚未确定</source>
        <translation>Not found yet</translation>
    </message>
    <message>
        <source>请输入一个整数</source>
        <translation>Enter a whole number</translation>
    </message>
    <message>
        <source>请输入一个数字</source>
        <translation>Enter a number</translation>
    </message>
    <message>
        <source>不能小于 0</source>
        <translation>must not be below 0</translation>
    </message>
    <message>
        <source>必须大于 0</source>
        <translation>must be above 0</translation>
    </message>
    <message>
        <source>须满足 0 &lt; 下限 &lt; 上限 &lt; 1</source>
        <translation>needs 0 &lt; lower &lt; upper &lt; 1</translation>
    </message>
    <message>
        <source>须在 0 到 100 之间</source>
        <translation>must lie between 0 and 100</translation>
    </message>
    <message>
        <source>须大于 1</source>
        <translation>must be above 1</translation>
    </message>
    <message>
        <source>%1：%2。</source>
        <translation>%1: %2.</translation>
    </message>
</context>
<context>
    <name>CycleWindow</name>
    <message>
        <source>充电
(s)</source>
        <translation>Charge
(s)</translation>
    </message>
    <message>
        <source>保持
(s)</source>
        <translation>Hold
(s)</translation>
    </message>
    <message>
        <source>放电
(s)</source>
        <translation>Discharge
(s)</translation>
    </message>
    <message>
        <source>静置
(s)</source>
        <translation>Rest
(s)</translation>
    </message>
    <message>
        <source>充电结束 U1
(V)</source>
        <translation>U1 end of charge
(V)</translation>
    </message>
    <message>
        <source>放电结束 U1
(V)</source>
        <translation>U1 end of discharge
(V)</translation>
    </message>
    <message>
        <source>充入电荷 Q
(C)</source>
        <translation>Q in
(C)</translation>
    </message>
    <message>
        <source>放出电荷 Q
(C)</source>
        <translation>Q out
(C)</translation>
    </message>
    <message>
        <source>充入能量 E
(J)</source>
        <translation>E in
(J)</translation>
    </message>
    <message>
        <source>放出能量 E
(J)</source>
        <translation>E out
(J)</translation>
    </message>
    <message>
        <source>库仑效率
(%)</source>
        <translation>Coulombic efficiency
(%)</translation>
    </message>
    <message>
        <source>能量效率
(%)</source>
        <translation>Energy efficiency
(%)</translation>
    </message>
    <message>
        <source>恒流电容 C
(F)</source>
        <translation>C constant current
(F)</translation>
    </message>
    <message>
        <source>能量法电容 C
(F)</source>
        <translation>C energy
(F)</translation>
    </message>
    <message>
        <source>充电电容 C
(F)</source>
        <translation>C charge
(F)</translation>
    </message>
    <message>
        <source>ESR 压降法
(Ω)</source>
        <translation>ESR IR drop
(Ω)</translation>
    </message>
    <message>
        <source>ESR 回升法
(Ω)</source>
        <translation>ESR rebound
(Ω)</translation>
    </message>
    <message>
        <source>T 最低
(°C)</source>
        <translation>T min
(°C)</translation>
    </message>
    <message>
        <source>T 最高
(°C)</source>
        <translation>T max
(°C)</translation>
    </message>
    <message>
        <source>T 平均
(°C)</source>
        <translation>T mean
(°C)</translation>
    </message>
    <message>
        <source>U2 平均
(V)</source>
        <translation>U2 mean
(V)</translation>
    </message>
    <message>
        <source>ΔC
(%)</source>
        <translation>ΔC
(%)</translation>
    </message>
    <message>
        <source>ΔESR
(%)</source>
        <translation>ΔESR
(%)</translation>
    </message>
    <message>
        <source>数据截断了这个循环</source>
        <translation>The data cuts this cycle</translation>
    </message>
    <message>
        <source>这个循环没有该方法所需的阶段</source>
        <translation>The cycle lacks the phase this method needs</translation>
    </message>
    <message>
        <source>该阶段的电流未测量（读数为 0）</source>
        <translation>The current of that phase is not measured (reads 0)</translation>
    </message>
    <message>
        <source>放电未到达 U_b（或开始时已低于 U_a）</source>
        <translation>The discharge never reaches U_b (or starts below U_a)</translation>
    </message>
    <message>
        <source>该阶段或窗口内的点太少</source>
        <translation>Too few points in the phase or window</translation>
    </message>
    <message>
        <source>窗口内有非数值 (NaN)</source>
        <translation>Values that are not numbers (NaN) inside the window</translation>
    </message>
    <message>
        <source>没有参考循环，或参考循环缺少此值</source>
        <translation>No reference cycle, or the reference lacks this figure</translation>
    </message>
    <message>
        <source>电压差或电流差为零</source>
        <translation>A voltage or current difference of zero</translation>
    </message>
    <message>
        <source>寿命终止</source>
        <translation>End of life</translation>
    </message>
    <message>
        <source>合格</source>
        <translation>Pass</translation>
    </message>
    <message>
        <source>循环分析</source>
        <translation>Cycle analysis</translation>
    </message>
    <message>
        <source>设置…</source>
        <translation>Settings…</translation>
    </message>
    <message>
        <source>复制</source>
        <translation>Copy</translation>
    </message>
    <message>
        <source>导出…</source>
        <translation>Export…</translation>
    </message>
    <message>
        <source>编号</source>
        <translation>No.</translation>
    </message>
    <message>
        <source>开始
(s)</source>
        <translation>Start
(s)</translation>
    </message>
    <message>
        <source>判定</source>
        <translation>Pass/fail</translation>
    </message>
    <message>
        <source>%1（参考）</source>
        <translation>%1 (ref.)</translation>
    </message>
    <message>
        <source>不完整的循环：数据截断了它，不计入衰减图</source>
        <translation>Partial cycle: the data cuts it; left out of the fade</translation>
    </message>
    <message>
        <source>参考循环：ΔC、ΔESR 与寿命判定以它为准</source>
        <translation>Reference cycle: ΔC, ΔESR and the end of life are measured against it</translation>
    </message>
    <message>
        <source>C（恒流）/ 参考</source>
        <translation>C (constant current) / reference</translation>
    </message>
    <message>
        <source>C（充电）/ 参考</source>
        <translation>C (charge) / reference</translation>
    </message>
    <message>
        <source>ESR / 参考（右轴）</source>
        <translation>ESR / reference (right axis)</translation>
    </message>
    <message>
        <source>能量效率</source>
        <translation>Energy efficiency</translation>
    </message>
    <message>
        <source>循环</source>
        <translation>Cycle</translation>
    </message>
    <message>
        <source>C / 参考，能量效率 (%)</source>
        <translation>C / reference, energy efficiency (%)</translation>
    </message>
    <message>
        <source>ESR / 参考 (%)</source>
        <translation>ESR / reference (%)</translation>
    </message>
    <message>
        <source>C 寿命限值</source>
        <translation>C end-of-life limit</translation>
    </message>
    <message>
        <source>ESR 寿命限值</source>
        <translation>ESR end-of-life limit</translation>
    </message>
    <message>
        <source>参考</source>
        <translation>Reference</translation>
    </message>
</context>
<context>
    <name>EventListWindow</name>
    <message>
        <source>标记与事件</source>
        <translation>Markers and events</translation>
    </message>
    <message>
        <source>删除标记</source>
        <translation>Delete marker</translation>
    </message>
    <message>
        <source>时间 (s)</source>
        <translation>Time (s)</translation>
    </message>
    <message>
        <source>时刻</source>
        <translation>Clock time</translation>
    </message>
    <message>
        <source>类别</source>
        <translation>Kind</translation>
    </message>
    <message>
        <source>内容</source>
        <translation>Text</translation>
    </message>
    <message>
        <source>标记</source>
        <translation>Marker</translation>
    </message>
    <message>
        <source>报警</source>
        <translation>Alarm</translation>
    </message>
    <message>
        <source>%1 高于上限 %2：%3</source>
        <translation>%1 above the upper limit %2: %3</translation>
    </message>
    <message>
        <source>%1 低于下限 %2：%3</source>
        <translation>%1 below the lower limit %2: %3</translation>
    </message>
    <message>
        <source>恢复正常</source>
        <translation>Back to normal</translation>
    </message>
    <message>
        <source>%1 回到限值以内：%2</source>
        <translation>%1 back within the limits: %2</translation>
    </message>
    <message>
        <source>已确认</source>
        <translation>Acknowledged</translation>
    </message>
    <message>
        <source>%1 的报警已确认</source>
        <translation>Alarm on %1 acknowledged</translation>
    </message>
    <message>
        <source>问题</source>
        <translation>Problem</translation>
    </message>
    <message>
        <source>标记的时间须是一个数字（秒），例如 %1。</source>
        <translation>A marker's time must be a number (seconds), for example %1.</translation>
    </message>
</context>
<context>
    <name>RunInfoDlg</name>
    <message>
        <source>运行信息</source>
        <translation>Run information</translation>
    </message>
    <message>
        <source>操作员</source>
        <translation>Operator</translation>
    </message>
    <message>
        <source>样品</source>
        <translation>Sample</translation>
    </message>
    <message>
        <source>额定电压 (V)</source>
        <translation>Rated voltage (V)</translation>
    </message>
    <message>
        <source>大于 0 的数字；不知道时留空</source>
        <translation>A number above 0; leave empty if not known</translation>
    </message>
    <message>
        <source>电容 (F)</source>
        <translation>Capacitance (F)</translation>
    </message>
    <message>
        <source>ESR (Ω)</source>
        <translation>ESR (Ω)</translation>
    </message>
    <message>
        <source>备注</source>
        <translation>Notes</translation>
    </message>
    <message>
        <source>必须大于 0，或留空</source>
        <translation>must be above 0, or left empty</translation>
    </message>
    <message>
        <source>请输入一个数字，或留空</source>
        <translation>enter a number, or leave it empty</translation>
    </message>
    <message>
        <source>%1：%2。</source>
        <translation>%1: %2.</translation>
    </message>
</context>
<context>
    <name>LimitsDlg</name>
    <message>
        <source>限值与报警</source>
        <translation>Limits and alarms</translation>
    </message>
    <message>
        <source>通道</source>
        <translation>Channel</translation>
    </message>
    <message>
        <source>下限</source>
        <translation>Low</translation>
    </message>
    <message>
        <source>留空 = 不设下限</source>
        <translation>Empty = no low limit</translation>
    </message>
    <message>
        <source>上限</source>
        <translation>High</translation>
    </message>
    <message>
        <source>留空 = 不设上限</source>
        <translation>Empty = no high limit</translation>
    </message>
    <message>
        <source>回差</source>
        <translation>Deadband</translation>
    </message>
    <message>
        <source>回到限值以内这么多才算恢复正常</source>
        <translation>Back to normal only once this far inside the limit</translation>
    </message>
    <message>
        <source>延时 (s)</source>
        <translation>Delay (s)</translation>
    </message>
    <message>
        <source>超出限值持续这么久才报警</source>
        <translation>An alarm only after the value stays past the limit this long</translation>
    </message>
    <message>
        <source>显示</source>
        <translation>Show</translation>
    </message>
    <message>
        <source>报警时在状态栏和报警窗口中显示</source>
        <translation>On an alarm, say so in the status bar and in the alarm window</translation>
    </message>
    <message>
        <source>声音</source>
        <translation>Sound</translation>
    </message>
    <message>
        <source>报警时发出提示音</source>
        <translation>On an alarm, beep</translation>
    </message>
    <message>
        <source>标记</source>
        <translation>Mark</translation>
    </message>
    <message>
        <source>报警时在图上加一个标记</source>
        <translation>On an alarm, add a marker to the plot</translation>
    </message>
    <message>
        <source>停止采集</source>
        <translation>Stop</translation>
    </message>
    <message>
        <source>报警时停止采集</source>
        <translation>On an alarm, stop acquisition</translation>
    </message>
    <message>
        <source>功率 U1·I (W)</source>
        <translation>Power U1·I (W)</translation>
    </message>
    <message>
        <source>功率</source>
        <translation>Power</translation>
    </message>
    <message>
        <source>请输入一个数字，或留空表示不设此限值</source>
        <translation>enter a number, or leave it empty for no limit</translation>
    </message>
    <message>
        <source>请输入一个数字</source>
        <translation>enter a number</translation>
    </message>
    <message>
        <source>必须低于上限 %1</source>
        <translation>must be below the high limit %1</translation>
    </message>
    <message>
        <source>不能小于 0</source>
        <translation>must not be below 0</translation>
    </message>
    <message>
        <source>不能大于上限与下限之差 %1</source>
        <translation>must not exceed the distance between the limits, %1</translation>
    </message>
    <message>
        <source>%1 的%2：%3。</source>
        <translation>%1, %2: %3.</translation>
    </message>
</context>
<context>
    <name>LimitAlarmWindow</name>
    <message>
        <source>限值报警</source>
        <translation>Limit alarms</translation>
    </message>
    <message>
        <source>以下限值报警尚未确认：</source>
        <translation>These limit alarms are not acknowledged yet:</translation>
    </message>
    <message>
        <source>确认</source>
        <translation>Acknowledge</translation>
    </message>
    <message>
        <source>通道</source>
        <translation>Channel</translation>
    </message>
    <message>
        <source>报警</source>
        <translation>Alarm</translation>
    </message>
    <message>
        <source>限值</source>
        <translation>Limit</translation>
    </message>
    <message>
        <source>值</source>
        <translation>Value</translation>
    </message>
    <message>
        <source>时间 (s)</source>
        <translation>Time (s)</translation>
    </message>
    <message>
        <source>时刻</source>
        <translation>Clock time</translation>
    </message>
    <message>
        <source>次数</source>
        <translation>Count</translation>
    </message>
    <message>
        <source>状态</source>
        <translation>State</translation>
    </message>
    <message>
        <source>高于上限</source>
        <translation>Above the high limit</translation>
    </message>
    <message>
        <source>低于下限</source>
        <translation>Below the low limit</translation>
    </message>
    <message>
        <source>已恢复正常</source>
        <translation>Back to normal</translation>
    </message>
    <message>
        <source>报警中</source>
        <translation>In alarm</translation>
    </message>
</context>
</TS>
