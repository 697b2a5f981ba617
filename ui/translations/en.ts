<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US">
<context>
    <name>AnswerWidget</name>
    <message>
        <source>Form</source>
        <translation>Form</translation>
    </message>
    <message>
        <source>Teacher</source>
        <translation>Teacher</translation>
    </message>
</context>
<context>
    <name>CSuspensionWidget</name>
    <message>
        <source>Microsoft YaHei UI</source>
        <translation>Microsoft YaHei UI</translation>
    </message>
</context>
<context>
    <name>ChatView</name>
    <message>
        <source>Form</source>
        <translation>Form</translation>
    </message>
    <message>
        <source>Chat records</source>
        <translation>Chat records</translation>
    </message>
    <message>
        <source>systemMsg</source>
        <translation>systemMsg</translation>
    </message>
</context>
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
    <message>
        <source>Cancel task</source>
        <translation>Cancel task</translation>
    </message>
    <message>
        <source>Remove this task from the list? Its output file is kept.</source>
        <translation>Remove this task from the list? Its output file is kept.</translation>
    </message>
    <message>
        <source>Clear task history</source>
        <translation>Clear task history</translation>
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
    <name>PlotView</name>
    <message>
        <source>Microsoft YaHei UI</source>
        <translation>Microsoft YaHei UI</translation>
    </message>
</context>
<context>
    <name>QuesionWidget</name>
    <message>
        <source>Microsoft YaHei UI</source>
        <translation>Microsoft YaHei UI</translation>
    </message>
    <message>
        <source>Form</source>
        <translation>Form</translation>
    </message>
</context>
<context>
    <name>QuestionAnswerView</name>
    <message>
        <source>Form</source>
        <translation>Form</translation>
    </message>
    <message>
        <source>Q&amp;A records</source>
        <translation>Q&amp;A records</translation>
    </message>
</context>
<context>
    <name>ResourceEditWidget</name>
    <message>
        <source>Playback Cut</source>
        <translation>Playback Cut</translation>
    </message>
    <message>
        <source>setStart</source>
        <translation>setStart</translation>
    </message>
    <message>
        <source>setEnd</source>
        <translation>setEnd</translation>
    </message>
    <message>
        <source>add</source>
        <translation>add</translation>
    </message>
    <message>
        <source>Start time:</source>
        <translation>Start time:</translation>
    </message>
    <message>
        <source>End time:</source>
        <translation>End time:</translation>
    </message>
    <message>
        <source>Add File</source>
        <translation>Add File</translation>
    </message>
    <message>
        <source>output option</source>
        <translation>output option</translation>
    </message>
    <message>
        <source>segments has been add(0/10)</source>
        <translation>segments has been add(0/10)</translation>
    </message>
    <message>
        <source>order</source>
        <translation>order</translation>
    </message>
    <message>
        <source>Start-stop time</source>
        <translation>Start-stop time</translation>
    </message>
    <message>
        <source>duration</source>
        <translation>duration</translation>
    </message>
    <message>
        <source>Ok</source>
        <translation>Ok</translation>
    </message>
    <message>
        <source>Open File</source>
        <translation>Open File</translation>
    </message>
    <message>
        <source>Images (*.vrk)</source>
        <translation>Images (*.vrk)</translation>
    </message>
    <message>
        <source>can't parse the resource file.</source>
        <translation>can't parse the resource file.</translation>
    </message>
    <message>
        <source>error</source>
        <translation>error</translation>
    </message>
    <message>
        <source>Video should not be less than 1 minutes</source>
        <translation>Video should not be less than 1 minutes</translation>
    </message>
    <message>
        <source>The interception task has not been saved, is it sure to close it?</source>
        <translation>The interception task has not been saved, is it sure to close it?</translation>
    </message>
    <message>
        <source>exit</source>
        <translation>exit</translation>
    </message>
    <message>
        <source>Clips are less than 20</source>
        <translation>Clips are less than 20</translation>
    </message>
    <message>
        <source>duration shall be more than 10 seconds</source>
        <translation>duration shall be more than 10 seconds</translation>
    </message>
    <message>
        <source>segment overlaps the added segment,please reselect</source>
        <translation>segment overlaps the added segment,please reselect</translation>
    </message>
    <message>
        <source>segments has been added</source>
        <translation>segments has been added</translation>
    </message>
    <message>
        <source>Play / pause (Space)</source>
        <translation>Play / pause (Space)</translation>
    </message>
    <message>
        <source>Start of the segment at the playhead (I)</source>
        <translation>Start of the segment at the playhead (I)</translation>
    </message>
    <message>
        <source>End of the segment at the playhead (O)</source>
        <translation>End of the segment at the playhead (O)</translation>
    </message>
    <message>
        <source>Add the segment (Enter)</source>
        <translation>Add the segment (Enter)</translation>
    </message>
    <message>
        <source>Delete removes the selected segment; double-click jumps to its start</source>
        <translation>Delete removes the selected segment; double-click jumps to its start</translation>
    </message>
    <message>
        <source>Left/Right: 1 s, Shift+Left/Right: 10 s, ',' / '.': one frame, Home/End</source>
        <translation>Left/Right: 1 s, Shift+Left/Right: 10 s, ',' / '.': one frame, Home/End</translation>
    </message>
    <message>
        <source>Preview</source>
        <translation>Preview</translation>
    </message>
    <message>
        <source>Play only the kept segments, skipping the gaps</source>
        <translation>Play only the kept segments, skipping the gaps</translation>
    </message>
</context>
<context>
    <name>ResourceMergeWidget</name>
    <message>
        <source>Microsoft YaHei UI</source>
        <translation>Microsoft YaHei UI</translation>
    </message>
    <message>
        <source>Playback Megre</source>
        <translation>Playback Megre</translation>
    </message>
    <message>
        <source>file</source>
        <translation>file</translation>
    </message>
    <message>
        <source>file size</source>
        <translation>file size</translation>
    </message>
    <message>
        <source>Up</source>
        <translation>Up</translation>
    </message>
    <message>
        <source>Down</source>
        <translation>Down</translation>
    </message>
    <message>
        <source>     Remove</source>
        <translation>     Remove</translation>
    </message>
    <message>
        <source>Clear</source>
        <translation>Clear</translation>
    </message>
    <message>
        <source>Add File</source>
        <translation>Add File</translation>
    </message>
    <message>
        <source>output option</source>
        <translation>output option</translation>
    </message>
    <message>
        <source>Ok</source>
        <translation>Ok</translation>
    </message>
    <message>
        <source>%1 files</source>
        <translation>%1 files</translation>
    </message>
    <message>
        <source>Open File</source>
        <translation>Open File</translation>
    </message>
    <message>
        <source>Images (*.vrk)</source>
        <translation>Images (*.vrk)</translation>
    </message>
    <message>
        <source>files size more than 5G.</source>
        <translation>files size more than 5G.</translation>
    </message>
    <message>
        <source>error</source>
        <translation>error</translation>
    </message>
    <message>
        <source>The number of merge files cannot above 10!</source>
        <translation>The number of merge files cannot above 10!</translation>
    </message>
    <message>
        <source>The megre task has not been saved, is it sure to close it?</source>
        <translation>The megre task has not been saved, is it sure to close it?</translation>
    </message>
    <message>
        <source>exit</source>
        <translation>exit</translation>
    </message>
    <message>
        <source>%1 cannot be read as a playback package.</source>
        <translation>%1 cannot be read as a playback package.</translation>
    </message>
    <message>
        <source>%1 holds no playable video.</source>
        <translation>%1 holds no playable video.</translation>
    </message>
    <message>
        <source>%1 uses layout template %2, but %3 uses template %4.</source>
        <translation>%1 uses layout template %2, but %3 uses template %4.</translation>
    </message>
    <message>
        <source>duration</source>
        <translation>duration</translation>
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
    <message>
        <source>convert fail.</source>
        <translation>convert fail.</translation>
    </message>
    <message>
        <source>cancelled by the user.</source>
        <translation>cancelled by the user.</translation>
    </message>
</context>
<context>
    <name>Template2Widget</name>
    <message>
        <source>Form</source>
        <translation>Form</translation>
    </message>
</context>
<context>
    <name>Template3Widget</name>
    <message>
        <source>Form</source>
        <translation>Form</translation>
    </message>
</context>
<context>
    <name>Template4Widget</name>
    <message>
        <source>Form</source>
        <translation>Form</translation>
    </message>
</context>
<context>
    <name>Template5Widget</name>
    <message>
        <source>Form</source>
        <translation>Form</translation>
    </message>
</context>
<context>
    <name>Template6Widget</name>
    <message>
        <source>Form</source>
        <translation>Form</translation>
    </message>
</context>
<context>
    <name>VRK2Mp4Widget</name>
    <message>
        <source>Form</source>
        <translation>Form</translation>
    </message>
    <message>
        <source>Convert</source>
        <translation>Convert</translation>
    </message>
    <message>
        <source>Select file:</source>
        <translation>Select file:</translation>
    </message>
    <message>
        <source>Browser...</source>
        <translation>Browser...</translation>
    </message>
    <message>
        <source>Output path:</source>
        <translation>Output path:</translation>
    </message>
    <message>
        <source>Select...</source>
        <translation>Select...</translation>
    </message>
    <message>
        <source>Width:</source>
        <translation>Width:</translation>
    </message>
    <message>
        <source>Height:</source>
        <translation>Height:</translation>
    </message>
    <message>
        <source>Video bitrate:</source>
        <translation>Video bitrate:</translation>
    </message>
    <message>
        <source>Loading resource file...</source>
        <translation>Loading resource file...</translation>
    </message>
    <message>
        <source>Open File</source>
        <translation>Open File</translation>
    </message>
    <message>
        <source>Video</source>
        <translation>Video</translation>
    </message>
    <message>
        <source>Save file</source>
        <translation>Save file</translation>
    </message>
    <message>
        <source>Video (*.mp4)</source>
        <translation>Video (*.mp4)</translation>
    </message>
    <message>
        <source>Warning</source>
        <translation>Warning</translation>
    </message>
    <message>
        <source>Please select a VRK file.</source>
        <translation>Please select a VRK file.</translation>
    </message>
    <message>
        <source>Output file cannot be empty.</source>
        <translation>Output file cannot be empty.</translation>
    </message>
    <message>
        <source>Param of record is nullptr!</source>
        <translation>Param of record is nullptr!</translation>
    </message>
    <message>
        <source>The bitrate must be in the range of 100-3000!</source>
        <translation>The bitrate must be in the range of 100-3000!</translation>
    </message>
    <message>
        <source>The width or height must be in the range of 480-3840!</source>
        <translation>The width or height must be in the range of 480-3840!</translation>
    </message>
    <message>
        <source>Cannot open VRK file</source>
        <translation>Cannot open VRK file</translation>
    </message>
    <message>
        <source>Current graphics card does not support OpenGL core mode.</source>
        <translation>Current graphics card does not support OpenGL core mode.</translation>
    </message>
    <message>
        <source>Start convert error,code:</source>
        <translation>Start convert error,code:</translation>
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
<context>
    <name>operateCell</name>
    <message>
        <source>Form</source>
        <translation>Form</translation>
    </message>
</context>
</TS>