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
    object Label7: TLabel
      Left = 10
      Top = 120
      Caption = 'File To Backup'
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
    object ComboBox1: TComboBox
      Left = 150
      Top = 30
      Width = 56
      Height = 22
      Items.Strings = (
        '3.6'
        '3.5')
      Text = '3.6'
      Hint = 
        'Pick which JET Engine you want.'#13#10'3.5 is for Access 97 *.mdb'#13#10'3..6 is for' +
        ' Access 2000 *.mdb'#13#10#13#10'Remember! All select *.mdb Must'#13#10'be the  same JET E' +
        'ngine type!'
    end
    object Edit1: TEdit
      Left = 150
      Top = 58
      Width = 106
      Height = 22
      ReadOnly = True
      TabStop = False
    end
    object Label13: TLabel
      Left = 10
      Top = 120
      Caption = 'File To Repair/Compact'
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
    object ComboBox2: TComboBox
      Left = 300
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
  end
end
