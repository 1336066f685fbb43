object Form1: TForm1
  Caption = 'Tarnwick Unattented Backup/Compactor'
  ClientWidth = 539
  ClientHeight = 352
  Color = clSilver
  Font.Name = 'Arial'
  Font.Height = -11
  Font.Color = clBlack
  BorderIcons = [biSystemMenu, biMinimize]
  OnCreate = FormCreate
  OnDestroy = FormDestroy
  object BackupArea: TPanel
    Left = 4
    Top = 4
    Width = 264
    Height = 252
    BevelInner = bvLowered
    BevelOuter = bvRaised
    object Label4: TLabel
      Left = 10
      Top = 8
      Caption = 'Data Backup Controls'
      Font.Style = [fsBold]
    end
    object AlarmClock2: TAlarmClock
      Left = 10
      Top = 30
      Width = 124
      Height = 28
      Color = clSilver
      Font.Name = 'Arial'
      Font.Height = -13
      Font.Color = clYellow
      BevelInner = bvNone
      BevelOuter = bvNone
      BorderStyle = bsSingle
      Ctl3D = False
      TwelveHour = True
      AlarmEnabled = True
      Hint = 'Current time'
    end
    object ValueSpinEdit1: TValueSpinEdit
      Left = 10
      Top = 66
      Width = 124
      Height = 22
      SpinType = sptTime
      Direction = spVertical
      ReturnIsTab = True
      Hint = 
        'Chose the time you wish the'#13#10'backup to begin.  Remember to'#13#10'turn the switch back to th' +
        'e on position.'
      OnChange = ValueSpinEdit1Change
    end
    object OffLabel1: TLabel
      Left = 178
      Top = 26
      Caption = 'Off'
    end
    object ToggleSwitch1: TToggleSwitch
      Left = 170
      Top = 40
      Width = 34
      Height = 40
      TextPosition = tpNone
      Hint = 
        'Turn backup off or on.  The switch '#13#10'must be set at the on position to backup'#13#10'at the ' +
        'set time.'
      OnOn = ToggleSwitch1On
      OnOff = ToggleSwitch1Off
    end
    object OnLabel1: TLabel
      Left = 180
      Top = 81
      Caption = 'On'
    end
    object Label7: TLabel
      Left = 10
      Top = 120
      Caption = 'File To Backup'
    end
    object Backup1: TFilenameEdit
      Left = 10
      Top = 136
      Width = 244
      Height = 21
      AcceptFiles = True
      DefaultExt = '*.mdb'
      Filter = 'Access Database (*.mdb)|*.mdb|Any File(*.*)|*.*'
      InitialDir = 'C:\'
      DialogOptions = [ofHideReadOnly, ofAllowMultiSelect, ofShareAware]
      FileEditStyle = fsComboBox
      Hint = 
        'Pick which files you want to backup'#13#10'You can use Drag&Drop or the Dialog'#13#10'Button t' +
        'o add files. '
      OnAfterDialog = Backup1AfterDialog
      OnChange = Backup1Change
    end
    object Label16: TLabel
      Left = 10
      Top = 160
      Caption = 'Backup To:'
    end
    object DirectoryEdit1: TDirectoryEdit
      Left = 10
      Top = 176
      Width = 244
      Height = 21
      AcceptFiles = True
      DialogText = 'Backup To:'
      DialogOptions = [sdAllowCreate, sdPerformCreate, sdPrompt]
      InitialDir = 'C:\My Documents\'
      Hint = 'Where do you want the files'#13#10'to be saved?'
      OnChange = Backup1Change
    end
    object CheckBox2: TCheckBox
      Left = 10
      Top = 218
      Width = 110
      Height = 20
      Caption = 'Zip Backup'
      Hint = 
        'Mouse click on box to select Zip File Backup'#13#10'before backing up.  Zip files' +
        ' are individual named'#13#10'according to file name combined with date and time.'#13 +
        #10'File extension is '#39'*.Zip'#39
    end
    object SpeedButton3: TSpeedButton
      Left = 150
      Top = 214
      Width = 104
      Height = 28
      Caption = 'Backup Now'
      Hint = 'Backup files right now!'
      Enabled = False
    end
  end
  object CompactArea: TPanel
    Left = 271
    Top = 4
    Width = 264
    Height = 252
    BevelInner = bvLowered
    BevelOuter = bvRaised
    object Label11: TLabel
      Left = 10
      Top = 8
      Caption = 'Data Repair/Compact Controls'
      Font.Style = [fsBold]
    end
    object Bevel2: TBevel
      Left = 200
      Top = 14
      Width = 56
      Height = 2
      Shape = bsTopLine
    end
    object AlarmClock1: TAlarmClock
      Left = 10
      Top = 30
      Width = 124
      Height = 28
      Color = clSilver
      Font.Name = 'Arial'
      Font.Height = -13
      Font.Color = clYellow
      BevelInner = bvNone
      BevelOuter = bvNone
      BorderStyle = bsSingle
      Ctl3D = False
      TwelveHour = True
      AlarmEnabled = True
      Hint = 'Current time'
    end
    object ValueSpinEdit2: TValueSpinEdit
      Left = 10
      Top = 66
      Width = 124
      Height = 22
      SpinType = sptTime
      Direction = spVertical
      ReturnIsTab = True
      Hint = 
        'Chose you start time.  Remember to'#13#10'turn the switch back to the on position.'
      OnChange = ValueSpinEdit2Change
    end
    object OffLabel2: TLabel
      Left = 178
      Top = 26
      Caption = 'Off'
    end
    object ToggleSwitch2: TToggleSwitch
      Left = 170
      Top = 40
      Width = 34
      Height = 40
      TextPosition = tpNone
      Hint = 
        'Turn backup off or on.  The switch '#13#10'must be set at the on position to Compact'#13#10'at the' +
        ' set time.'
      OnOn = ToggleSwitch2On
      OnOff = ToggleSwitch2Off
    end
    object OnLabel2: TLabel
      Left = 180
      Top = 81
      Caption = 'On'
    end
    object ComboBox1: TComboBox
      Left = 10
      Top = 94
      Width = 56
      Height = 22
      Items.Strings = (
        '3.6'
        '3.5')
      Text = '3.6'
      OnChange = ComboBox1Change
      Hint = 
        'Pick which JET Engine you want.'#13#10'3.5 is for Access 97 *.mdb'#13#10'3..6 is for' +
        ' Access 2000 *.mdb'#13#10#13#10'Remember! All select *.mdb Must'#13#10'be the  same JET E' +
        'ngine type!'
    end
    object Edit1: TEdit
      Left = 72
      Top = 94
      Width = 182
      Height = 22
      ReadOnly = True
      TabStop = False
    end
    object Label13: TLabel
      Left = 10
      Top = 120
      Caption = 'File To Repair/Compact'
    end
    object FilenameEdit1: TFilenameEdit
      Left = 10
      Top = 136
      Width = 244
      Height = 21
      AcceptFiles = True
      DefaultExt = '*.mdb'
      Filter = 'Access Database (*.mdb)|*.mdb'
      InitialDir = 'c:\'
      DialogOptions = [ofHideReadOnly, ofAllowMultiSelect, ofShareAware]
      Hint = 
        'Pick which files you want to Compact'#13#10'You can use Drag&Drop or the Dialog'#13#10'Button ' +
        'to add files.  '
      OnAfterDialog = FilenameEdit1AfterDialog
      OnChange = FilenameEdit1Change
    end
    object CheckBox1: TCheckBox
      Left = 10
      Top = 218
      Width = 120
      Height = 20
      Caption = 'Defrag Memory'
      Hint = 
        'Mouse click on box to select Memory Defrag'#13#10'before compacting.  Doing a Memory' +
        ' Defragmention'#13#10'speeds up the compacting process up to 25% by '#13#10'freeing-up usa' +
        'ble Total Free Memory.'
    end
    object SpeedButton4: TSpeedButton
      Left = 150
      Top = 214
      Width = 104
      Height = 28
      Caption = 'Compact Now'
      Hint = 'Repair/Compact files right now!'
      Enabled = False
    end
  end
  object ShutdownArea: TPanel
    Left = 4
    Top = 260
    Width = 531
    Height = 88
    BevelInner = bvLowered
    BevelOuter = bvRaised
    object Label14: TLabel
      Left = 10
      Top = 8
      Caption = ' Windows/Program'
      Font.Style = [fsBold]
    end
    object Label15: TLabel
      Left = 10
      Top = 24
      Caption = 'Auto Shut Down '
      Font.Style = [fsBold]
    end
    object AlarmClock3: TAlarmClock
      Left = 150
      Top = 12
      Width = 124
      Height = 28
      Color = clSilver
      Font.Name = 'Arial'
      Font.Height = -13
      Font.Color = clYellow
      BevelInner = bvNone
      BevelOuter = bvNone
      BorderStyle = bsSingle
      Ctl3D = False
      TwelveHour = True
      AlarmEnabled = False
      OnAlarm = AlarmClock3Alarm
    end
    object ValueSpinEdit3: TValueSpinEdit
      Left = 150
      Top = 50
      Width = 124
      Height = 22
      SpinType = sptTime
      Direction = spVertical
      ReturnIsTab = True
      OnChange = ValueSpinEdit3Change
    end
    object OffLabel3: TLabel
      Left = 448
      Top = 10
      Caption = 'Off'
    end
    object ToggleSwitch3: TToggleSwitch
      Left = 440
      Top = 24
      Width = 34
      Height = 40
      TextPosition = tpNone
      Hint = 'Turn the automatic shutdown off or on.'
      OnOn = ToggleSwitch3On
      OnOff = ToggleSwitch3Off
    end
    object OnLabel3: TLabel
      Left = 450
      Top = 65
      Caption = 'On'
    end
    object ComboBox2: TComboBox
      Left = 296
      Top = 30
      Width = 110
      Height = 22
      Style = csDropDown
      Sorted = True
      Items.Strings = (
        'Force'
        'Logoff'
        'Poweroff'
        'Program Only'
        'Reboot'
        'Shutdown')
      Hint = 
        'Choose what shutdown you want or'#13#10'just shut down this program.  This feature'#13#10 +
        'was intended for Friday Backups/Compacts'#13#10'where weekend enter was not expected.'
      OnChange = ComboBox2Change
    end
  end
  object LogsArea: TPanel
    Left = 4
    Top = 4
    Width = 531
    Height = 252
    Visible = False
    object Label8: TLabel
      Left = 8
      Top = 6
      Caption = 'Data Backup Controls'
      Font.Style = [fsBold]
    end
    object Label9: TLabel
      Left = 270
      Top = 6
      Caption = 'Data Repair/Compact Controls'
      Font.Style = [fsBold]
    end
    object BitBtn2: TBitBtn
      Left = 196
      Top = 2
      Width = 62
      Height = 22
      Caption = 'Clear '
      Hint = 'Clear Text'
      Font.Color = clBlue
      Font.Style = [fsBold]
      OnClick = BitBtn2Click
    end
    object BitBtn1: TBitBtn
      Left = 462
      Top = 2
      Width = 62
      Height = 22
      Caption = 'Clear'
      Hint = 'Clear Text'
      Font.Color = clBlue
      Font.Style = [fsBold]
      OnClick = BitBtn1Click
    end
    object RichEdit1: TRichEdit
      Left = 6
      Top = 28
      Width = 254
      Height = 218
      ReadOnly = True
      ScrollBars = ssVertical
    end
    object RichEdit2: TRichEdit
      Left = 270
      Top = 28
      Width = 254
      Height = 218
      ReadOnly = True
    end
  end
  object MemoryArea: TPanel
    Left = 4
    Top = 4
    Width = 264
    Height = 120
    Visible = False
    object Label3: TLabel
      Left = 8
      Top = 6
      Caption = 'Free of Total Memory'
    end
    object Label1: TLabel
      Left = 8
      Top = 24
      Caption = ''
    end
    object cgMemory: TProgressBar
      Left = 8
      Top = 42
      Width = 248
      Height = 14
      Max = 100
    end
    object Label2: TLabel
      Left = 8
      Top = 62
      Caption = ''
      Visible = False
    end
    object cgProgress: TProgressBar
      Left = 8
      Top = 80
      Width = 248
      Height = 14
      Max = 100
      Visible = False
    end
    object SpeedButton5: TSpeedButton
      Left = 8
      Top = 96
      Width = 104
      Height = 20
      Caption = 'Defrag Memory'
      OnClick = SpeedButton5Click
    end
  end
  object ShellFileOp1: TShellFileOp
    FilesOnly = True
    NoConfirmation = True
    AutoMakeDir = False
    RenameOnCollision = True
    Animate = True
    ProgressTitle = 'Backing up Access File..'
  end
  object ZipArchiver1: TZipArchiver
    AddCompLevel = 9
    AddOptions = []
    Unattended = False
    ConfirmErase = False
    AddStoreSuffixes = [assGIF, assPNG, assZ, assZIP, assZOO, assARC, assLZH, assARJ, assTAZ, assTGZ, assLHA, assEXE]
  end
  object OvDaoDatabase1: TOvDaoDatabase
    ComponentVersion = '4.50'
    Exclusive = True
    DatabaseType = 'Access'
    ReadOnly = False
    LoginPrompt = False
    UserName = 'Admin'
    SystemDatabase = 'system.mdb'
    SaveUserName = True
    EngineType = 2
    PrivateEngine = True
    UsesDynaDao = True
    Version = '3.6'
    VersionDetails = '3.6'
    VersionInfo = '(In Access'#39'2000 mode)'
    Workspace = 'DaoWorkspace'
    DefaultCursorDriver = -1
    QueryTimeout = 60
  end
  object IniOut1: TIniOut
    FileName = '.INI'
    RegistryRoot = CURRENT_USER
    Items.Strings = (
      'FilenameEdit1;Text;;Compact;Hx1;1;0'
      'Backup1;Text;;Backup;filenames;1;0'
      'RichEdit1;Lines;;Messages;Backup;1;0'
      'RichEdit2;Lines;;Messages;Compact;1;0'
      'ComboBox1;Text;;Compact;Version;1;0'
      'ValueSpinEdit1;TimeValue;;Backup;Time;1;0'
      'ValueSpinEdit2;TimeValue;;Compact;Time;1;0'
      'Form1;ClientHeight;;Form;Height;1;0'
      'Form1;ClientWidth;;Form;Width;1;0'
      'Form1;Width;;Form;Width2;1;0'
      'Form1;Height;;Form;Height2;1;0'
      'DirectoryEdit1;Text;;Backup;ToDir;1;0'
      'ToggleSwitch1;StateOn;;Backup;State1;1;0'
      'ToggleSwitch2;StateOn;;Compact;State2;1;0'
      'WinRoller1;Roller;;Form;Roller;1;0'
      'Form1;Left;;Form;left;1;0'
      'Form1;Top;;Form;Top;1;0'
      'ToggleSwitch3;StateOn;;Form;State3;1;0'
      'ComboBox2;Text;;Form;ShutdownText;1;0'
      'ValueSpinEdit3;TimeValue;;Form;Time;1;0'
      'CheckBox1;State;cbUnchecked;Compact;Defrag;1;0'
      'CheckBox2;State;cbUnchecked;Backup;Zip;1;0'
      'FilenameEdit1;DialogFiles;;Compact;dialogfiles;1;0'
      'Backup1;DialogFiles;;Backup;dialogfiles;1;0')
  end
  object MemDefrag1: TMemDefrag
    OnBeforeDefrag = MemDefrag1BeforeDefrag
    OnProgress = MemDefrag1Progress
    OnAfterDefrag = MemDefrag1AfterDefrag
  end
  object SingleInstance1: TSingleInstance
  end
  object NetConnectDlg1: TNetConnectDlg
  end
  object NetDisConnectDlg1: TNetDisConnectDlg
    ResourceType = rtDisk
  end
  object PentiumMMX1: TPentiumMMX
    ErrorEnable = True
  end
end
