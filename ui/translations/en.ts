<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1">
<context>
    <name>MainWindow</name>
    <message>
        <source>Microsoft YaHei UI</source>
        <translation>Microsoft YaHei UI</translation>
    </message>
    <message>
        <source>Playback edit tool 1.0</source>
        <translation>Playback edit tool 1.0</translation>
    </message>
    <message>
        <source>Settings</source>
        <translation>Settings</translation>
    </message>
    <message>
        <source>Cut</source>
        <translation>Cut</translation>
    </message>
    <message>
        <source>Merge</source>
        <translation>Merge</translation>
    </message>
    <message>
        <source>Convert</source>
        <translation>Convert</translation>
    </message>
    <message>
        <source>Time consume:</source>
        <translation>Time consume:</translation>
    </message>
    <message>
        <source>Source files</source>
        <translation>Source files</translation>
    </message>
    <message>
        <source>Outoput file</source>
        <translation>Outoput file</translation>
    </message>
    <message>
        <source>Task type</source>
        <translation>Task type</translation>
    </message>
    <message>
        <source>Status</source>
        <translation>Status</translation>
    </message>
    <message>
        <source>Remarks</source>
        <translation>Remarks</translation>
    </message>
    <message>
        <source>edit</source>
        <translation>edit</translation>
    </message>
    <message>
        <source>Output Option</source>
        <translation>Output Option</translation>
    </message>
    <message>
        <source>Open Output Path</source>
        <translation>Open Output Path</translation>
    </message>
    <message>
        <source>Delete task</source>
        <translation>Delete task</translation>
    </message>
    <message>
        <source>The task is in progress, is it out?</source>
        <translation>The task is in progress, is it out?</translation>
    </message>
    <message>
        <source>exit</source>
        <translation>exit</translation>
    </message>
</context>
<context>
    <name>OutputOptionSetting</name>
    <message>
        <source>OutputOptionSetting</source>
        <translation>OutputOptionSetting</translation>
    </message>
    <message>
        <source>Output Options</source>
        <translation>Output Options</translation>
    </message>
    <message>
        <source>Playback title</source>
        <translation>Playback title</translation>
    </message>
    <message>
        <source>File Name</source>
        <translation>File Name</translation>
    </message>
    <message>
        <source>Folder</source>
        <translation>Folder</translation>
    </message>
    <message>
        <source>Browse</source>
        <translation>Browse</translation>
    </message>
    <message>
        <source>Transcode </source>
        <translation>Transcode </translation>
    </message>
    <message>
        <source>On</source>
        <translation>On</translation>
    </message>
    <message>
        <source>(Video transcoding improves editing compatibility,but takes longer.)</source>
        <translation>(Video transcoding improves editing compatibility,but takes longer.)</translation>
    </message>
    <message>
        <source>Width</source>
        <translation>Width</translation>
    </message>
    <message>
        <source>Height</source>
        <translation>Height</translation>
    </message>
    <message>
        <source>Open Directory</source>
        <translation>Open Directory</translation>
    </message>
</context>
<context>
    <name>SystemSetting</name>
    <message>
        <source>SystemSetting</source>
        <translation>SystemSetting</translation>
    </message>
    <message>
        <source>Settings</source>
        <translation>Settings</translation>
    </message>
    <message>
        <source>Output dir</source>
        <translation>Output dir</translation>
    </message>
    <message>
        <source>Browse</source>
        <translation>Browse</translation>
    </message>
    <message>
        <source>Open Directory</source>
        <translation>Open Directory</translation>
    </message>
</context>
<context>
    <name>TaskInterface</name>
    <message>
        <source>Converting</source>
        <translation>Converting</translation>
    </message>
    <message>
        <source>Finished</source>
        <translation>Finished</translation>
    </message>
    <message>
        <source>Failed</source>
        <translation>Failed</translation>
    </message>
    <message>
        <source>Wait</source>
        <translation>Wait</translation>
    </message>
    <message>
        <source>Cut</source>
        <translation>Cut</translation>
    </message>
    <message>
        <source>Merge</source>
        <translation>Merge</translation>
    </message>
    <message>
        <source>Convert</source>
        <translation>Convert</translation>
    </message>
    <message>
        <source>read file fail.</source>
        <translation>read file fail.</translation>
    </message>
    <message>
        <source>template type is conflict.</source>
        <translation>template type is conflict.</translation>
    </message>
    <message>
        <source>merge fail.</source>
        <translation>merge fail.</translation>
    </message>
    <message>
        <source>cut fail.</source>
        <translation>cut fail.</translation>
    </message>
</context>
<context>
    <name>VRKMessageBox</name>
    <message>
        <source>Dialog</source>
        <translation>Dialog</translation>
    </message>
    <message>
        <source>exit</source>
        <translation>exit</translation>
    </message>
    <message>
        <source>Ok</source>
        <translation>Ok</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>Microsoft YaHei UI</source>
        <translation>Microsoft YaHei UI</translation>
    </message>
</context>
</TS>