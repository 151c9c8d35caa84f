<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN" sourcelanguage="en">
<context>
    <name>Resources</name>
    <message>
        <location filename="../../src/app/resources.cpp"/>
        <source>&amp;Connect</source>
        <translation>连接(&amp;C)</translation>
    </message>
    <message>
        <location filename="../../src/app/resources.cpp"/>
        <source>&amp;Link</source>
        <translation>连接(&amp;L)</translation>
    </message>
    <message>
        <location filename="../../src/app/resources.cpp"/>
        <source>&amp;Break connection</source>
        <translation>断开连接(&amp;B)</translation>
    </message>
    <message>
        <location filename="../../src/app/resources.cpp"/>
        <source>&amp;Setup</source>
        <translation>设置(&amp;S)</translation>
    </message>
    <message>
        <location filename="../../src/app/resources.cpp"/>
        <source>Load &amp;firmware package...</source>
        <translation>加载固件包(&amp;F)...</translation>
    </message>
    <message>
        <location filename="../../src/app/resources.cpp"/>
        <source>&amp;Exit</source>
        <translation>退出(&amp;E)</translation>
    </message>
    <message>
        <location filename="../../src/app/resources.cpp"/>
        <source>&amp;Update</source>
        <translation>升级(&amp;U)</translation>
    </message>
    <message>
        <location filename="../../src/app/resources.cpp"/>
        <source>&amp;Language</source>
        <translation>语言(&amp;L)</translation>
    </message>
    <message>
        <location filename="../../src/app/resources.cpp"/>
        <source>English</source>
        <translation>英文</translation>
    </message>
    <message>
        <location filename="../../src/app/resources.cpp"/>
        <source>Chinese</source>
        <translation>中文</translation>
    </message>
    <message>
        <location filename="../../src/app/resources.cpp"/>
        <source>Update</source>
        <translation>升级</translation>
    </message>
    <message>
        <location filename="../../src/app/resources.cpp"/>
        <source>About</source>
        <translation>关于</translation>
    </message>
    <message>
        <location filename="../../src/app/resources.cpp"/>
        <source>Messages:</source>
        <translation>信息:</translation>
    </message>
    <message>
        <location filename="../../src/app/resources.cpp"/>
        <source>Marvek ARM Receiver firmware&#xd;&#xa;Support Receiver:&#xd;&#xa; VID_EZ4I0 &#xd;&#xa;&#xd;&#xa;Release Date:   2017-05-25</source>
        <translation>Marvek ARM 接收机固件&#xd;&#xa;支持的接收机:&#xd;&#xa; VID_EZ4I0 &#xd;&#xa;&#xd;&#xa;发布日期:   2017-05-25</translation>
    </message>
    <message>
        <location filename="../../src/app/resources.cpp"/>
        <source>Marvek ARM Receiver firmware&#xd;&#xa;Release:&#xd;&#xa; %s &#xd;&#xa;&#xd;&#xa;Release Date:   %s</source>
        <translation>Marvek ARM 接收机固件&#xd;&#xa;版本:&#xd;&#xa; %s &#xd;&#xa;&#xd;&#xa;发布日期:   %s</translation>
    </message>
    <message>
        <location filename="../../src/app/resources.cpp"/>
        <source>Marvek ARM Receiver firmware&#xd;&#xa;Release:&#xd;&#xa; %s </source>
        <translation>Marvek ARM 接收机固件&#xd;&#xa;版本:&#xd;&#xa; %s </translation>
    </message>
    <message>
        <location filename="../../src/app/resources.cpp"/>
        <source>Port</source>
        <translation>端口</translation>
    </message>
    <message>
        <location filename="../../src/app/resources.cpp"/>
        <source>Port:</source>
        <translation>端口:</translation>
    </message>
    <message>
        <location filename="../../src/app/resources.cpp"/>
        <source>&amp;OK</source>
        <translation>确定(&amp;O)</translation>
    </message>
    <message>
        <location filename="../../src/app/resources.cpp"/>
        <source>&amp;Cancel</source>
        <translation>取消(&amp;C)</translation>
    </message>
    <message>
        <location filename="../../src/app/resources.cpp"/>
        <source>About Marvek Update</source>
        <translation>关于 Marvek Update</translation>
    </message>
    <message>
        <location filename="../../src/app/resources.cpp"/>
        <source>OrvaneUpdate</source>
        <translation>OrvaneUpdate</translation>
    </message>
</context>
</TS>
