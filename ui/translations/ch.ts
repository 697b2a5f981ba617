<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN">
<context>
    <name>AnswerWidget</name>
    <message>
        <source>Form</source>
        <translation>窗体</translation>
    </message>
    <message>
        <source>Teacher</source>
        <translation>老师</translation>
    </message>
</context>
<context>
    <name>CSuspensionWidget</name>
    <message>
        <source>Microsoft YaHei UI</source>
        <translation>WenQuanYi Micro Hei</translation>
    </message>
</context>
<context>
    <name>ChatView</name>
    <message>
        <source>Form</source>
        <translation>窗体</translation>
    </message>
    <message>
        <source>Chat records</source>
        <translation>聊天记录</translation>
    </message>
    <message>
        <source>systemMsg</source>
        <translation>系统消息</translation>
    </message>
</context>
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
    <message>
        <source>Cancel task</source>
        <translation>取消任务</translation>
    </message>
    <message>
        <source>Remove this task from the list? Its output file is kept.</source>
        <translation>从列表中移除此任务？其输出文件会保留。</translation>
    </message>
    <message>
        <source>Clear task history</source>
        <translation>清除任务历史</translation>
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
    <name>PlotView</name>
    <message>
        <source>Microsoft YaHei UI</source>
        <translation>WenQuanYi Micro Hei</translation>
    </message>
</context>
<context>
    <name>QuesionWidget</name>
    <message>
        <source>Microsoft YaHei UI</source>
        <translation>WenQuanYi Micro Hei</translation>
    </message>
    <message>
        <source>Form</source>
        <translation>窗体</translation>
    </message>
</context>
<context>
    <name>QuestionAnswerView</name>
    <message>
        <source>Form</source>
        <translation>窗体</translation>
    </message>
    <message>
        <source>Q&amp;A records</source>
        <translation>问答记录</translation>
    </message>
</context>
<context>
    <name>ResourceEditWidget</name>
    <message>
        <source>Playback Cut</source>
        <translation>回放剪辑</translation>
    </message>
    <message>
        <source>setStart</source>
        <translation>设为起点</translation>
    </message>
    <message>
        <source>setEnd</source>
        <translation>设为终点</translation>
    </message>
    <message>
        <source>add</source>
        <translation>添加</translation>
    </message>
    <message>
        <source>Start time:</source>
        <translation>开始时间：</translation>
    </message>
    <message>
        <source>End time:</source>
        <translation>结束时间：</translation>
    </message>
    <message>
        <source>Add File</source>
        <translation>添加文件</translation>
    </message>
    <message>
        <source>output option</source>
        <translation>输出选项</translation>
    </message>
    <message>
        <source>segments has been add(0/10)</source>
        <translation>已添加片段(0/10)</translation>
    </message>
    <message>
        <source>order</source>
        <translation>序号</translation>
    </message>
    <message>
        <source>Start-stop time</source>
        <translation>起止时间</translation>
    </message>
    <message>
        <source>duration</source>
        <translation>时长</translation>
    </message>
    <message>
        <source>Ok</source>
        <translation>确定</translation>
    </message>
    <message>
        <source>Open File</source>
        <translation>打开文件</translation>
    </message>
    <message>
        <source>Images (*.vrk)</source>
        <translation>回放文件 (*.vrk)</translation>
    </message>
    <message>
        <source>can't parse the resource file.</source>
        <translation>无法解析资源文件。</translation>
    </message>
    <message>
        <source>error</source>
        <translation>错误</translation>
    </message>
    <message>
        <source>Video should not be less than 1 minutes</source>
        <translation>视频不能少于 1 分钟</translation>
    </message>
    <message>
        <source>The interception task has not been saved, is it sure to close it?</source>
        <translation>剪辑任务尚未保存，确定要关闭吗？</translation>
    </message>
    <message>
        <source>exit</source>
        <translation>退出</translation>
    </message>
    <message>
        <source>Clips are less than 20</source>
        <translation>片段数不能超过 20 个</translation>
    </message>
    <message>
        <source>duration shall be more than 10 seconds</source>
        <translation>时长须大于 10 秒</translation>
    </message>
    <message>
        <source>segment overlaps the added segment,please reselect</source>
        <translation>该片段与已添加的片段重叠，请重新选择</translation>
    </message>
    <message>
        <source>segments has been added</source>
        <translation>已添加片段</translation>
    </message>
    <message>
        <source>Play / pause (Space)</source>
        <translation>播放 / 暂停（空格）</translation>
    </message>
    <message>
        <source>Start of the segment at the playhead (I)</source>
        <translation>以播放位置作为片段开始（I）</translation>
    </message>
    <message>
        <source>End of the segment at the playhead (O)</source>
        <translation>以播放位置作为片段结束（O）</translation>
    </message>
    <message>
        <source>Add the segment (Enter)</source>
        <translation>添加片段（回车）</translation>
    </message>
    <message>
        <source>Delete removes the selected segment; double-click jumps to its start</source>
        <translation>Delete 删除所选片段；双击跳到片段开始</translation>
    </message>
    <message>
        <source>Left/Right: 1 s, Shift+Left/Right: 10 s, ',' / '.': one frame, Home/End</source>
        <translation>左/右：1 秒，Shift+左/右：10 秒，“,” / “.”：一帧，Home/End</translation>
    </message>
    <message>
        <source>Preview</source>
        <translation>预览</translation>
    </message>
    <message>
        <source>Play only the kept segments, skipping the gaps</source>
        <translation>只播放保留的片段，跳过中间部分</translation>
    </message>
</context>
<context>
    <name>ResourceMergeWidget</name>
    <message>
        <source>Microsoft YaHei UI</source>
        <translation>WenQuanYi Micro Hei</translation>
    </message>
    <message>
        <source>Playback Megre</source>
        <translation>回放合并</translation>
    </message>
    <message>
        <source>file</source>
        <translation>文件</translation>
    </message>
    <message>
        <source>file size</source>
        <translation>文件大小</translation>
    </message>
    <message>
        <source>Up</source>
        <translation>上移</translation>
    </message>
    <message>
        <source>Down</source>
        <translation>下移</translation>
    </message>
    <message>
        <source>     Remove</source>
        <translation>     移除</translation>
    </message>
    <message>
        <source>Clear</source>
        <translation>清空</translation>
    </message>
    <message>
        <source>Add File</source>
        <translation>添加文件</translation>
    </message>
    <message>
        <source>output option</source>
        <translation>输出选项</translation>
    </message>
    <message>
        <source>Ok</source>
        <translation>确定</translation>
    </message>
    <message>
        <source>%1 files</source>
        <translation>%1 个文件</translation>
    </message>
    <message>
        <source>Open File</source>
        <translation>打开文件</translation>
    </message>
    <message>
        <source>Images (*.vrk)</source>
        <translation>回放文件 (*.vrk)</translation>
    </message>
    <message>
        <source>files size more than 5G.</source>
        <translation>文件总大小超过 5G。</translation>
    </message>
    <message>
        <source>error</source>
        <translation>错误</translation>
    </message>
    <message>
        <source>The number of merge files cannot above 10!</source>
        <translation>合并文件数不能超过 10 个！</translation>
    </message>
    <message>
        <source>The megre task has not been saved, is it sure to close it?</source>
        <translation>合并任务尚未保存，确定要关闭吗？</translation>
    </message>
    <message>
        <source>exit</source>
        <translation>退出</translation>
    </message>
    <message>
        <source>%1 cannot be read as a playback package.</source>
        <translation>%1 无法作为回放包读取。</translation>
    </message>
    <message>
        <source>%1 holds no playable video.</source>
        <translation>%1 中没有可播放的视频。</translation>
    </message>
    <message>
        <source>%1 uses layout template %2, but %3 uses template %4.</source>
        <translation>%1 使用布局模板 %2，而 %3 使用模板 %4。</translation>
    </message>
    <message>
        <source>duration</source>
        <translation>时长</translation>
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
    <message>
        <source>convert fail.</source>
        <translation>转换失败。</translation>
    </message>
    <message>
        <source>cancelled by the user.</source>
        <translation>已被用户取消。</translation>
    </message>
</context>
<context>
    <name>Template2Widget</name>
    <message>
        <source>Form</source>
        <translation>窗体</translation>
    </message>
</context>
<context>
    <name>Template3Widget</name>
    <message>
        <source>Form</source>
        <translation>窗体</translation>
    </message>
</context>
<context>
    <name>Template4Widget</name>
    <message>
        <source>Form</source>
        <translation>窗体</translation>
    </message>
</context>
<context>
    <name>Template5Widget</name>
    <message>
        <source>Form</source>
        <translation>窗体</translation>
    </message>
</context>
<context>
    <name>Template6Widget</name>
    <message>
        <source>Form</source>
        <translation>窗体</translation>
    </message>
</context>
<context>
    <name>VRK2Mp4Widget</name>
    <message>
        <source>Form</source>
        <translation>窗体</translation>
    </message>
    <message>
        <source>Convert</source>
        <translation>转换</translation>
    </message>
    <message>
        <source>Select file:</source>
        <translation>选择文件：</translation>
    </message>
    <message>
        <source>Browser...</source>
        <translation>浏览...</translation>
    </message>
    <message>
        <source>Output path:</source>
        <translation>输出路径：</translation>
    </message>
    <message>
        <source>Select...</source>
        <translation>选择...</translation>
    </message>
    <message>
        <source>Width:</source>
        <translation>宽度：</translation>
    </message>
    <message>
        <source>Height:</source>
        <translation>高度：</translation>
    </message>
    <message>
        <source>Video bitrate:</source>
        <translation>视频码率：</translation>
    </message>
    <message>
        <source>Loading resource file...</source>
        <translation>正在加载资源文件...</translation>
    </message>
    <message>
        <source>Open File</source>
        <translation>打开文件</translation>
    </message>
    <message>
        <source>Video</source>
        <translation>视频</translation>
    </message>
    <message>
        <source>Save file</source>
        <translation>保存文件</translation>
    </message>
    <message>
        <source>Video (*.mp4)</source>
        <translation>视频 (*.mp4)</translation>
    </message>
    <message>
        <source>Warning</source>
        <translation>警告</translation>
    </message>
    <message>
        <source>Please select a VRK file.</source>
        <translation>请选择一个 VRK 文件。</translation>
    </message>
    <message>
        <source>Output file cannot be empty.</source>
        <translation>输出文件不能为空。</translation>
    </message>
    <message>
        <source>Param of record is nullptr!</source>
        <translation>录制参数为空！</translation>
    </message>
    <message>
        <source>The bitrate must be in the range of 100-3000!</source>
        <translation>码率必须在 100-3000 之间！</translation>
    </message>
    <message>
        <source>The width or height must be in the range of 480-3840!</source>
        <translation>宽度或高度必须在 480-3840 之间！</translation>
    </message>
    <message>
        <source>Cannot open VRK file</source>
        <translation>无法打开 VRK 文件</translation>
    </message>
    <message>
        <source>Current graphics card does not support OpenGL core mode.</source>
        <translation>当前显卡不支持 OpenGL 核心模式。</translation>
    </message>
    <message>
        <source>Start convert error,code:</source>
        <translation>启动转换出错，错误码：</translation>
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
<context>
    <name>operateCell</name>
    <message>
        <source>Form</source>
        <translation>窗体</translation>
    </message>
</context>
</TS>