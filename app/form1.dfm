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
  object BitmapHolder1: TBitmapHolder
    Bitmap = 'BrushedMetal'
  end
  object BitmapHolder2: TBitmapHolder
    Bitmap = 'Dots'
  end
  object BitmapHolder3: TBitmapHolder
    Bitmap = 'Blueprint'
  end
  object BackupArea: TScrewPanel
    Left = 4
    Top = 4
    Width = 264
    Height = 236
    Color = clBtnFace
    Margin = 2
    ScrewSize = 2
    ShowScrews = True
    BevelInner = bvLowered
    BevelOuter = bvRaised
    object Label4: TLabel
      Left = 16
      Top = 6
      Caption = 'Data Backup Controls'
      Font.Style = [fsBold]
    end
    object AlarmClock2: TAlarmClock
      Left = 14
      Top = 26
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
      OnAlarm = AlarmClock2Alarm
    end
    object ValueSpinEdit1: TValueSpinEdit
      Left = 14
      Top = 62
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
    object CheckBox3: TCheckBox
      Left = 14
      Top = 84
      Width = 150
      Height = 20
      Caption = 'Catch up missed runs'
      Hint = 
        'Mouse click on box to run a backup that was'#13#10'missed while the computer was off or asleep,'#13#10 +
        'or Tarnwick was not running, as soon as'#13#10'Tarnwick starts or the computer wakes up.'
    end
    object SwitchHousing1: TScrewPanel
      Left = 168
      Top = 22
      Width = 60
      Height = 70
      Color = clBtnFace
      Margin = 2
      ScrewSize = 2
      ShowScrews = True
      BevelInner = bvLowered
      BevelOuter = bvRaised
      Hint = 
        'Turn backup off or on.  The switch '#13#10'must be set at the on position to Backup'#13#10'at the ' +
        'set time.'
      object OffLabel1: TLabel
        Left = 22
        Top = 4
        Caption = 'Off'
      end
      object ToggleSwitch1: TToggleSwitch
        Left = 13
        Top = 16
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
        Left = 23
        Top = 56
        Caption = 'On'
      end
    end
    object Label7: TLabel
      Left = 14
      Top = 104
      Caption = 'File To Backup'
    end
    object Backup1: TFilenameEdit
      Left = 14
      Top = 120
      Width = 236
      Height = 21
      AcceptFiles = True
      DefaultExt = '*.mdb'
      Filter = 'Access databases (*.mdb *.accdb)|*.mdb;*.accdb|Any File(*.*)|*.*'
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
      Left = 14
      Top = 146
      Caption = 'Backup To:'
    end
    object DirectoryEdit1: TDirectoryEdit
      Left = 14
      Top = 162
      Width = 236
      Height = 21
      AcceptFiles = True
      DialogText = 'Backup To:'
      DialogOptions = [sdAllowCreate, sdPerformCreate, sdPrompt]
      InitialDir = 'C:\My Documents\'
      Hint = 'Where do you want the files'#13#10'to be saved?'
      OnChange = Backup1Change
    end
    object Label17: TLabel
      Left = 184
      Top = 100
      Caption = 'Keep'
    end
    object ValueSpinEdit4: TValueSpinEdit
      Left = 212
      Top = 96
      Width = 38
      Height = 22
      MaxValue = 999
      ReturnIsTab = True
      Hint = 
        'How many backups of each database to keep'#13#10'in the backup folder.  Older ones are remov' +
        'ed'#13#10'after a good backup.  0 keeps them all.'
    end
    object CheckBox2: TCheckBox
      Left = 14
      Top = 198
      Width = 110
      Height = 20
      Caption = 'Zip Backup'
      Hint = 
        'Mouse click on box to select Zip File Backup'#13#10'before backing up.  Zip files' +
        ' are individual named'#13#10'according to file name combined with date and time.'#13 +
        #10'File extension is '#39'*.Zip'#39
    end
    object SpeedButton3: TSpeedButton
      Left = 146
      Top = 194
      Width = 104
      Height = 28
      Caption = 'Backup Now'
      Hint = 'Backup files right now!'
      OnClick = AlarmClock2Alarm
    end
  end
  object CompactArea: TScrewPanel
    Left = 271
    Top = 4
    Width = 264
    Height = 236
    Color = clBtnFace
    Margin = 2
    ScrewSize = 2
    ShowScrews = True
    BevelInner = bvLowered
    BevelOuter = bvRaised
    object Label11: TLabel
      Left = 16
      Top = 6
      Caption = 'Data Repair/Compact Controls'
      Font.Style = [fsBold]
    end
    object Bevel2: TBevel
      Left = 186
      Top = 12
      Width = 62
      Height = 2
      Shape = bsTopLine
    end
    object AlarmClock1: TAlarmClock
      Left = 14
      Top = 26
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
      OnAlarm = AlarmClock1Alarm
    end
    object ValueSpinEdit2: TValueSpinEdit
      Left = 14
      Top = 62
      Width = 124
      Height = 22
      SpinType = sptTime
      Direction = spVertical
      ReturnIsTab = True
      Hint = 
        'Chose you start time.  Remember to'#13#10'turn the switch back to the on position.'
      OnChange = ValueSpinEdit2Change
    end
    object SwitchHousing2: TScrewPanel
      Left = 168
      Top = 22
      Width = 60
      Height = 70
      Color = clBtnFace
      Margin = 2
      ScrewSize = 2
      ShowScrews = True
      BevelInner = bvLowered
      BevelOuter = bvRaised
      Hint = 
        'Turn backup off or on.  The switch '#13#10'must be set at the on position to Compact'#13#10'at the' +
        ' set time.'
      object OffLabel2: TLabel
        Left = 22
        Top = 4
        Caption = 'Off'
      end
      object ToggleSwitch2: TToggleSwitch
        Left = 13
        Top = 16
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
        Left = 23
        Top = 56
        Caption = 'On'
      end
    end
    object ComboBox1: TComboBox
      Left = 14
      Top = 96
      Width = 56
      Height = 22
      Items.Strings = (
        '12.0'
        '3.6'
        '3.5')
      Text = '3.6'
      OnChange = ComboBox1Change
      Hint = 
        'Pick which JET Engine you want.'#13#10'3.5 is for Access 97 *.mdb'#13#10'3..6 is for' +
        ' Access 2000 *.mdb'#13#10'12.0 is for Access 2007+ *.accdb'#13#10#13#10'Remember! All s' +
        'elect *.mdb *.accdb Must'#13#10'be the  same JET Engine type!'
    end
    object Edit1: TEdit
      Left = 76
      Top = 96
      Width = 174
      Height = 22
      ReadOnly = True
      TabStop = False
    end
    object Label13: TLabel
      Left = 14
      Top = 124
      Caption = 'File To Repair/Compact'
    end
    object FilenameEdit1: TFilenameEdit
      Left = 14
      Top = 140
      Width = 236
      Height = 21
      AcceptFiles = True
      DefaultExt = '*.mdb'
      Filter = 'Access databases (*.mdb *.accdb)|*.mdb;*.accdb'
      InitialDir = 'c:\'
      DialogOptions = [ofHideReadOnly, ofAllowMultiSelect, ofShareAware]
      Hint = 
        'Pick which files you want to Compact'#13#10'You can use Drag&Drop or the Dialog'#13#10'Button ' +
        'to add files.  '
      OnAfterDialog = FilenameEdit1AfterDialog
      OnChange = FilenameEdit1Change
    end
    object CheckBox1: TCheckBox
      Left = 14
      Top = 198
      Width = 120
      Height = 20
      Caption = 'Defrag Memory'
      Hint = 
        'Mouse click on box to select Memory Defrag'#13#10'before compacting.  Doing a Memory' +
        ' Defragmention'#13#10'speeds up the compacting process up to 25% by '#13#10'freeing-up usa' +
        'ble Total Free Memory.'
    end
    object CheckBox4: TCheckBox
      Left = 14
      Top = 168
      Width = 150
      Height = 20
      Caption = 'Catch up missed runs'
      Hint = 
        'Mouse click on box to run a Repair/Compact that'#13#10'was missed while the computer was off or' +
        ' asleep,'#13#10'or Tarnwick was not running, as soon as'#13#10'Tarnwick starts or the computer wakes up.'
    end
    object SpeedButton4: TSpeedButton
      Left = 146
      Top = 194
      Width = 104
      Height = 28
      Caption = 'Compact Now'
      Hint = 'Repair/Compact files right now!'
      OnClick = AlarmClock1Alarm
    end
  end
  object ShutdownArea: TScrewPanel
    Left = 4
    Top = 262
    Width = 531
    Height = 70
    Color = clBtnFace
    Margin = 2
    ScrewSize = 2
    ShowScrews = True
    BevelInner = bvLowered
    BevelOuter = bvRaised
    object LinkImage2: TLinkImage
      Left = 14
      Top = 14
      Width = 118
      Height = 40
      Picture = 'Banner'
      LinkType = ltfile
      Hint = 'Read me: what Tarnwick does and how to use it'
      HyperLink = 'README.md'
    end
    object Label14: TLabel
      Left = 140
      Top = 16
      Caption = ' Windows/Program'
      Font.Style = [fsBold]
    end
    object Label15: TLabel
      Left = 140
      Top = 32
      Caption = 'Auto Shut Down '
      Font.Style = [fsBold]
    end
    object AlarmClock3: TAlarmClock
      Left = 248
      Top = 6
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
      Left = 248
      Top = 40
      Width = 124
      Height = 22
      SpinType = sptTime
      Direction = spVertical
      ReturnIsTab = True
      OnChange = ValueSpinEdit3Change
    end
    object ComboBox2: TComboBox
      Left = 378
      Top = 24
      Width = 92
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
    object SwitchHousing3: TScrewPanel
      Left = 474
      Top = 2
      Width = 44
      Height = 66
      Color = clBtnFace
      Margin = 2
      ScrewSize = 2
      ShowScrews = True
      BevelInner = bvLowered
      BevelOuter = bvRaised
      object OffLabel3: TLabel
        Left = 15
        Top = 1
        Caption = 'Off'
      end
      object ToggleSwitch3: TToggleSwitch
        Left = 5
        Top = 13
        Width = 34
        Height = 40
        TextPosition = tpNone
        Hint = 'Turn the automatic shutdown off or on.'
        OnOn = ToggleSwitch3On
        OnOff = ToggleSwitch3Off
      end
      object OnLabel3: TLabel
        Left = 16
        Top = 52
        Caption = 'On'
      end
    end
  end
  object FoldPanel1: TFoldPanel
    Left = 4
    Top = 4
    Width = 531
    Height = 254
    Caption = 'Action Logs'
    Hint = 'View messages for Backups and Compacting'
    FoldPosition = fpLeftBottom
    BevelOuter = bvRaised
    BeforeExpand = FoldPanel1BeforeExpand
    BeforeCollaps = FoldPanel1BeforeCollaps
    object Label8: TLabel
      Left = 6
      Top = 6
      Caption = 'Data Backup Controls'
      Font.Style = [fsBold]
    end
    object BitBtn2: TBitBtn
      Left = 190
      Top = 2
      Width = 62
      Height = 22
      Caption = 'Clear '
      Hint = 'Clear Text'
      Font.Color = clBlue
      Font.Style = [fsBold]
      OnClick = BitBtn2Click
    end
    object RichEdit1: TRichEdit
      Left = 4
      Top = 28
      Width = 250
      Height = 218
      ReadOnly = True
      ScrollBars = ssVertical
    end
    object Label9: TLabel
      Left = 262
      Top = 6
      Caption = 'Data Repair/Compact Controls'
      Font.Style = [fsBold]
    end
    object BitBtn1: TBitBtn
      Left = 448
      Top = 2
      Width = 62
      Height = 22
      Caption = 'Clear'
      Hint = 'Clear Text'
      Font.Color = clBlue
      Font.Style = [fsBold]
      OnClick = BitBtn1Click
    end
    object RichEdit2: TRichEdit
      Left = 260
      Top = 28
      Width = 250
      Height = 218
      ReadOnly = True
    end
  end
  object FoldPanel2: TFoldPanel
    Left = 4
    Top = 274
    Width = 140
    Height = 74
    Caption = 'Networks'
    Hint = 'Set Network Drives'
    FoldPosition = fpLeftBottom
    BevelOuter = bvRaised
    BeforeExpand = FoldPanel2BeforeExpand
    BeforeCollaps = FoldPanel2BeforeCollaps
    object SpeedButton1: TSpeedButton
      Left = 6
      Top = 8
      Width = 110
      Height = 26
      Caption = 'Net Connect'
      OnClick = SpeedButton1Click
    end
    object SpeedButton2: TSpeedButton
      Left = 6
      Top = 40
      Width = 110
      Height = 26
      Caption = 'Net Disconnect'
      Hint = 'Disconnect Networked Mapped Drive'
      OnClick = SpeedButton2Click
    end
  end
  object FoldPanel3: TFoldPanel
    Left = 148
    Top = 122
    Width = 220
    Height = 226
    Caption = 'About'
    Hint = 'Credits and information about this program.'
    FoldPosition = fpLeftBottom
    BevelOuter = bvRaised
    BitmapHolder = BitmapHolder1
    BeforeExpand = FoldPanel3BeforeExpand
    BeforeCollaps = FoldPanel3BeforeCollaps
    object Paneles1: TPaneles
      Left = 4
      Top = 4
      Width = 195
      Height = 28
      BevelOuter = bvLowered
      BitmapHolder = BitmapHolder2
      object LinkImage1: TLinkImage
        Left = 6
        Top = 4
        Width = 170
        Height = 20
        Picture = 'AboutTitle'
        LinkType = ltfile
        Hint = 'Open the read-me of Tarnwick'
        HyperLink = 'README.md'
      end
    end
    object Text1: TRichEdit
      Left = 4
      Top = 36
      Width = 195
      Height = 136
      Color = clInfoBk
      ReadOnly = True
      ScrollBars = ssVertical
      Lines.Strings = (
        'Tarnwick'
        'Unattended backup, repair and compaction of Access databases, and a timed end of the session.'
        ''
        'Written in C++ with Qt 6 for Linux. The Jet database engine, the zip archiver and the window controls are our own.'
        ''
        'Thanks to the Qt project, zlib, libdeflate and the Liberation fonts.'
        ''
        'Click the title above for the read-me and the picture below for how Tarnwick is built.')
    end
    object Paneles2: TPaneles
      Left = 4
      Top = 176
      Width = 195
      Height = 44
      BevelOuter = bvLowered
      BitmapHolder = BitmapHolder3
      object LinkImage3: TLinkImage
        Left = 4
        Top = 2
        Width = 64
        Height = 40
        Picture = 'AboutPicture'
        LinkType = ltfile
        Hint = 'How Tarnwick is built'
        HyperLink = 'docs/architecture.md'
      end
      object Label5: TLabel
        Left = 76
        Top = 15
        Caption = 'How Tarnwick is built'
        Transparent = True
      end
    end
  end
  object FoldPanel4: TFoldPanel
    Left = 372
    Top = 216
    Width = 163
    Height = 132
    Caption = 'Memory Defragmenter'
    Hint = 'Memory Defrag'
    FoldPosition = fpRightBottom
    BevelOuter = bvRaised
    BeforeExpand = FoldPanel4BeforeExpand
    BeforeCollaps = FoldPanel4BeforeCollaps
    object Label3: TLabel
      Left = 4
      Top = 4
      Caption = 'Free of Total Memory'
    end
    object Label1: TLabel
      Left = 4
      Top = 20
      Caption = ''
    end
    object cgMemory: TProgressBar
      Left = 4
      Top = 38
      Width = 138
      Height = 14
      Max = 100
    end
    object Label2: TLabel
      Left = 4
      Top = 56
      Caption = ''
      Visible = False
    end
    object cgProgress: TProgressBar
      Left = 4
      Top = 72
      Width = 138
      Height = 14
      Max = 100
      Visible = False
    end
    object SpeedButton5: TSpeedButton
      Left = 4
      Top = 96
      Width = 138
      Height = 26
      Caption = 'Defrag Memory'
      OnClick = SpeedButton5Click
    end
  end
  object ZPHint1: TZPHint
    TransparencyStyle = tsNone
    HintColor = 14024703
    HintFont.Charset = DEFAULT_CHARSET
    HintFont.Color = clBlack
    HintFont.Height = -13
    HintFont.Name = 'Arial'
    HintFont.Style = []
    HintShortPause = 15
    Transparency = 25
  end
  object wheel1: TWheel
    Auto = False
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
    UsesDynaDao = True
    VersionDetails = '3.6'
    VersionInfo = '(In Access'#39'2000 mode)'
  end
  object IniOut1: TIniOut
    FileName = '.INI'
    RegistryRoot = CURRENT_USER
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
