-- profile.db of an instrument folder as an old installation left it (no version table):
-- settings, users, reagents, assay templates with their calibrations, and calibration curves.
create table profile(
	name text unique,
	value);
insert into profile values('hospital/name', 'City Hospital Coagulation Lab');
insert into profile values('statim_sample_prefix', 'E');
insert into profile values('schedule/sample', 5);
insert into profile values('analyst/FIB/odPercent', 0.6);
insert into profile values('DD/disable', 1);
insert into profile values('FDP/disable', 1);
insert into profile values('VIII/disable', 1);
insert into profile values('printer/autoPrint', 0);
insert into profile values('color_of_waiting', '#f0c040');
insert into profile values('color_of_analysing', '#3c8cdc');

create table user(
	id integer primary key,
	name text,
	password text,
	level integer);
insert into user values(1, 'Admin', 'f8e1c1', 2);
insert into user values(2, 'service', '7b21aa', 3);
insert into user values(3, 'WuYan', '31d0c9', 1);

create table reagent(
	id integer primary key,
	type integer,
	name text,
	initVolume integer,
	alarmLimit integer,
	vialType integer);
insert into reagent values(1, 1, 'PT', 4000, 400, 4);
insert into reagent values(2, 1, 'APTT', 4000, 400, 4);
insert into reagent values(3, 1, 'FIB', 4000, 400, 4);
insert into reagent values(4, 2, 'Buffer', 6500, 200, 6);
insert into reagent values(5, 0, 'Latex', 2000, 200, 3);
insert into reagent values(6, 2, 'Saline', 6500, 200, 6);

create table assayTemplate(
	id integer primary key,
	name text,
	caption text,
	displayOrder integer);
insert into assayTemplate values(1, 'PT', 'Prothrombin time', 1);
insert into assayTemplate values(2, 'APTT', 'Activated partial thromboplastin time', 2);
insert into assayTemplate values(3, 'FIB', 'Fibrinogen', 3);
insert into assayTemplate values(4, 'DD', 'D-dimer', 4);
insert into assayTemplate values(5, 'FDP', 'Fibrin degradation products', 5);
insert into assayTemplate values(6, 'AT', 'Antithrombin', 6);
insert into assayTemplate values(7, 'VIII', 'Factor VIII', 7);

create table assayItem(
	id integer primary key,
	assayTemplateId integer references assayTemplate,
	name text,
	unit text,
	precision integer,
	lowerNormal real,
	upperNormal real);
insert into assayItem values(1, 1, 'T', 's', 1, 11.0, 14);
insert into assayItem values(2, 1, 'INR', '', 2, 0.8, 1.2);
insert into assayItem values(3, 1, 'OD', '', 3, NULL, NULL);
insert into assayItem values(4, 2, 'T', 's', 1, 25.0, 35.0);
insert into assayItem values(5, 3, 'C', 'g/L', 2, 2.0, 4.0);
insert into assayItem values(6, 4, 'C', 'mg/L', 2, 0.0, 0.5);
insert into assayItem values(7, 7, 'A', '%', 1, 50.0, 150.0);

create table assayCalibration(
	id integer primary key,
	assayTemplateId integer references assayTemplate,
	name text,
	condition text,
	caliX text,
	caliY text,
	funX text,
	funY text);
insert into assayCalibration values(1, 1, 'PT', 'T', 'C', 'T', 'Linear', 'Linear');
insert into assayCalibration values(2, 3, 'FIB', 'T', 'C', 'T', 'Log', 'Log');
insert into assayCalibration values(3, 3, 'PT calculate FIB', 'OD', 'C', 'OD', 'Linear', 'Linear');
insert into assayCalibration values(4, 4, 'DD', 'OD', 'C', 'OD', 'Linear', 'Linear');
insert into assayCalibration values(5, 5, 'FDP', 'OD', 'C', 'OD', 'Linear', 'Linear');
insert into assayCalibration values(6, 6, 'AT', 'OD', 'A', 'OD', 'Linear', 'Linear');
insert into assayCalibration values(7, 7, 'VIII', 'T', 'A', 'T', 'Linear', 'Linear');

create table variable(
	id integer primary key,
	assayTemplateId integer references assayTemplate,
	name text,
	value);
insert into variable values(1, 1, 'ISI', NULL);
insert into variable values(2, 1, 'MNPT', NULL);
insert into variable values(3, 3, 'dilution', NULL);
insert into variable values(4, 7, 'deficientPlasma', NULL);

create table curve(
	id integer primary key,
	name text,
	xunit text,
	yunit text,
	correlation real,
	date date,
	xFun integer,
	yFun integer,
	a real,
	b real);
create index curve_index on curve(name);
-- Two PT curves: the lot of May (linear axes, which no longer fit: the refit leaves it
-- invalid) and the one in use since November (log axes).
insert into curve values(1, 'PT', '%', 's', 0.9979, '2023-05-11', 0, 0, 9.81, 3.02);
insert into curve values(2, 'FIB', 'g/L', 's', 0.9962, '2023-11-20', 1, 1, 1.47, -0.91);
insert into curve values(3, 'DD', 'mg/L', 'OD', NULL, '2023-12-02', 1, 0, NULL, NULL);
insert into curve values(4, 'PT', '%', 's', 0.9987, '2023-11-20', 1, 1, 9.62, 3.15);
insert into curve values(5, 'FDP', 'mg/L', 'OD', NULL, '2023-12-02', 1, 0, NULL, NULL);
insert into curve values(6, 'AT', '%', 'OD', NULL, '2023-10-05', 0, 0, NULL, NULL);
insert into curve values(7, 'VIII', '%', 's', 0.9915, '2023-09-14', 1, 0, 70.2, -16.1);

create table curvePoint(
	curveId integer references curve,
	x real,
	y real,
	z real,
	flags integer);
insert into curvePoint values(1, 100, 12.4, NULL, 0);
insert into curvePoint values(1, 50, 18.0, NULL, 0);
insert into curvePoint values(1, 25, 29.1, NULL, 0);
insert into curvePoint values(2, 1.0, 25.3, NULL, 0);
insert into curvePoint values(2, 2.0, 13.0, NULL, 0);
insert into curvePoint values(2, 4.0, 6.8, NULL, 0);
insert into curvePoint values(3, 0.25, 0.012, NULL, 0);
insert into curvePoint values(3, 0.5, 0.021, NULL, 0);
insert into curvePoint values(3, 1.0, 0.045, NULL, 0);
insert into curvePoint values(3, 2.0, 0.088, NULL, 0);
insert into curvePoint values(3, 4.0, 0.180, NULL, 0);
insert into curvePoint values(3, 8.0, 0.342, NULL, 0);
insert into curvePoint values(4, 100, 12.1, NULL, 0);
insert into curvePoint values(4, 50, 17.6, NULL, 0);
insert into curvePoint values(4, 25, 28.4, NULL, 0);
insert into curvePoint values(4, 12.5, 47.9, NULL, 0);
insert into curvePoint values(5, 2.5, 0.031, NULL, 0);
insert into curvePoint values(5, 5, 0.064, NULL, 0);
insert into curvePoint values(5, 10, 0.139, NULL, 0);
insert into curvePoint values(5, 20, 0.287, NULL, 0);
insert into curvePoint values(5, 40, 0.512, NULL, 0);
insert into curvePoint values(5, 80, 0.741, NULL, 0);
insert into curvePoint values(6, 12.5, 0.412, NULL, 0);
insert into curvePoint values(6, 25, 0.361, NULL, 0);
insert into curvePoint values(6, 50, 0.268, NULL, 0);
insert into curvePoint values(6, 75, 0.181, NULL, 0);
insert into curvePoint values(6, 100, 0.097, NULL, 0);
insert into curvePoint values(6, 125, 0.042, NULL, 0);
insert into curvePoint values(7, 100, 38.2, NULL, 0);
insert into curvePoint values(7, 50, 45.1, NULL, 0);
insert into curvePoint values(7, 25, 53.0, NULL, 0);
insert into curvePoint values(7, 12.5, 61.4, NULL, 0);

create table curveVariable(
	curveId integer references curve,
	name text,
	value);
insert into curveVariable values(1, 'ISI', 1.05);
insert into curveVariable values(1, 'MNPT', 12.1);
insert into curveVariable values(4, 'ISI', 1.02);
insert into curveVariable values(4, 'MNPT', 12.3);
insert into curveVariable values(2, 'dilution', '1/10');
insert into curveVariable values(7, 'deficientPlasma', 'F8D2307');

create table curveReagent(
	curveId integer references curve,
	name text,
	lot text);
insert into curveReagent values(1, 'PT', 'PT2304');
insert into curveReagent values(2, 'FIB', 'FB2310');
insert into curveReagent values(3, 'Latex', 'DL2312');
insert into curveReagent values(4, 'PT', 'PT2311');
insert into curveReagent values(5, 'Latex', 'FL2312');
insert into curveReagent values(6, 'AT', 'AT2310');
insert into curveReagent values(7, 'VIII', 'F82308');

create trigger deleteCurve after delete on curve
begin
	delete from curvePoint where curvePoint.curveId = old.id;
	delete from curveVariable where curveVariable.curveId = old.id;
	delete from curveReagent where curveReagent.curveId = old.id;
end;
