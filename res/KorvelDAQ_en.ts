<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_GB">
<context>
    <name>AboutDlg</name>
    <message>
        <source>关于...</source>
        <translation>About ...</translation>
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
        <translation>Capacitor Voltage</translation>
    </message>
    <message>
        <source>电流</source>
        <translation>Current</translation>
    </message>
    <message>
        <source>直流电压</source>
        <translation>Direct Voltage</translation>
    </message>
    <message>
        <source>温度</source>
        <translation>Temperature</translation>
    </message>
    <message>
        <source>物理通道</source>
        <translation>Physical channel</translation>
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
        <source>打开Korvel文本数据</source>
        <translation>open Korvel data file</translation>
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
</context>
</TS>
