<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1">
<context>
    <name>MainWindow</name>
    <message>
        <source>Microsoft YaHei UI</source>
        <translation>WenQuanYi Micro Hei</translation>
    </message>
    <message>
        <source>Playback edit tool 1.0</source>
        <translation>回放编辑工具 1.0</translation>
    </message>
    <message>
        <source>Settings</source>
        <translation>设置</translation>
    </message>
    <message>
        <source>Cut</source>
        <translation>剪辑</translation>
    </message>
    <message>
        <source>Merge</source>
        <translation>合并</translation>
    </message>
    <message>
        <source>Convert</source>
        <translation>转换</translation>
    </message>
    <message>
        <source>Time consume:</source>
        <translation>耗时：</translation>
    </message>
    <message>
        <source>Source files</source>
        <translation>源文件</translation>
    </message>
    <message>
        <source>Outoput file</source>
        <translation>输出文件</translation>
    </message>
    <message>
        <source>Task type</source>
        <translation>任务类型</translation>
    </message>
    <message>
        <source>Status</source>
        <translation>状态</translation>
    </message>
    <message>
        <source>Remarks</source>
        <translation>备注</translation>
    </message>
    <message>
        <source>edit</source>
        <translation>编辑</translation>
    </message>
    <message>
        <source>Output Option</source>
        <translation>输出选项</translation>
    </message>
    <message>
        <source>Open Output Path</source>
        <translation>打开输出目录</translation>
    </message>
    <message>
        <source>Delete task</source>
        <translation>删除任务</translation>
    </message>
    <message>
        <source>The task is in progress, is it out?</source>
        <translation>任务正在进行中，确定要退出吗？</translation>
    </message>
    <message>
        <source>exit</source>
        <translation>退出</translation>
    </message>
</context>
<context>
    <name>OutputOptionSetting</name>
    <message>
        <source>OutputOptionSetting</source>
        <translation>输出选项设置</translation>
    </message>
    <message>
        <source>Output Options</source>
        <translation>输出选项</translation>
    </message>
    <message>
        <source>Playback title</source>
        <translation>回放标题</translation>
    </message>
    <message>
        <source>File Name</source>
        <translation>文件名</translation>
    </message>
    <message>
        <source>Folder</source>
        <translation>文件夹</translation>
    </message>
    <message>
        <source>Browse</source>
        <translation>浏览</translation>
    </message>
    <message>
        <source>Transcode </source>
        <translation>转码 </translation>
    </message>
    <message>
        <source>On</source>
        <translation>开启</translation>
    </message>
    <message>
        <source>(Video transcoding improves editing compatibility,but takes longer.)</source>
        <translation>（视频转码可提高编辑兼容性，但耗时更长。）</translation>
    </message>
    <message>
        <source>Width</source>
        <translation>宽度</translation>
    </message>
    <message>
        <source>Height</source>
        <translation>高度</translation>
    </message>
    <message>
        <source>Open Directory</source>
        <translation>选择文件夹</translation>
    </message>
</context>
<context>
    <name>SystemSetting</name>
    <message>
        <source>SystemSetting</source>
        <translation>系统设置</translation>
    </message>
    <message>
        <source>Settings</source>
        <translation>设置</translation>
    </message>
    <message>
        <source>Output dir</source>
        <translation>输出目录</translation>
    </message>
    <message>
        <source>Browse</source>
        <translation>浏览</translation>
    </message>
    <message>
        <source>Open Directory</source>
        <translation>选择文件夹</translation>
    </message>
</context>
<context>
    <name>TaskInterface</name>
    <message>
        <source>Converting</source>
        <translation>转换中</translation>
    </message>
    <message>
        <source>Finished</source>
        <translation>已完成</translation>
    </message>
    <message>
        <source>Failed</source>
        <translation>失败</translation>
    </message>
    <message>
        <source>Wait</source>
        <translation>等待</translation>
    </message>
    <message>
        <source>Cut</source>
        <translation>剪辑</translation>
    </message>
    <message>
        <source>Merge</source>
        <translation>合并</translation>
    </message>
    <message>
        <source>Convert</source>
        <translation>转换</translation>
    </message>
    <message>
        <source>read file fail.</source>
        <translation>读取文件失败。</translation>
    </message>
    <message>
        <source>template type is conflict.</source>
        <translation>模板类型冲突。</translation>
    </message>
    <message>
        <source>merge fail.</source>
        <translation>合并失败。</translation>
    </message>
    <message>
        <source>cut fail.</source>
        <translation>剪辑失败。</translation>
    </message>
</context>
<context>
    <name>VRKMessageBox</name>
    <message>
        <source>Dialog</source>
        <translation>对话框</translation>
    </message>
    <message>
        <source>exit</source>
        <translation>退出</translation>
    </message>
    <message>
        <source>Ok</source>
        <translation>确定</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>取消</translation>
    </message>
    <message>
        <source>Microsoft YaHei UI</source>
        <translation>WenQuanYi Micro Hei</translation>
    </message>
</context>
</TS>