<?xml version="1.0" encoding="UTF-8"?>
<!--
  measCollec.xsl - converts one measCollec file into the two record files that
  bench.conf describes, byte for byte as corvane writes them.

    xsltproc -stringparam stamp yyyyMMddhhmm -stringparam outdir DIR measCollec.xsl FILE

  stamp is the date and time group of the input file's name (the last _yyyyMMdd_hhmm);
  outdir is an absolute directory. Names and the FILE_TIME column are made from stamp,
  as corvane makes them from the file name: yyMMddhhmm_Q_<measurement>_bench.data.

  Record rules that make the output equal: a record per measValue/r and per measInfo/
  measValue, attribute columns from the nearest enclosing or preceding element, VALUE
  the r's text (empty for an empty r), SUSPECT "1" only for the exact text "true".
-->
<xsl:stylesheet version="1.0"
    xmlns:xsl="http://www.w3.org/1999/XSL/Transform"
    xmlns:m="http://www.3gpp.org/ftp/specs/archive/32_series/32.435#measCollec"
    xmlns:exsl="http://exslt.org/common"
    extension-element-prefixes="exsl">

  <xsl:output method="text" encoding="UTF-8"/>
  <xsl:strip-space elements="*"/>

  <xsl:param name="stamp"/>
  <xsl:param name="outdir"/>

  <xsl:variable name="T" select="'&#9;'"/>
  <xsl:variable name="NL" select="'&#10;'"/>
  <xsl:variable name="file_time"
      select="concat(substring($stamp, 1, 4), '-', substring($stamp, 5, 2), '-',
                     substring($stamp, 7, 2), ' ', substring($stamp, 9, 2), ':',
                     substring($stamp, 11, 2))"/>
  <xsl:variable name="prefix" select="concat($outdir, '/', substring($stamp, 3, 10), '_Q_')"/>

  <xsl:template match="/">
    <exsl:document href="{$prefix}counters_bench.data" method="text" encoding="UTF-8">
      <xsl:value-of select="concat('FILE_TIME', $T, 'MANAGED_ELEMENT', $T, 'MEAS_INFO_ID', $T,
                                   'JOB_ID', $T, 'END_TIME', $T, 'GRAN_PERIOD', $T,
                                   'MEAS_OBJ_LDN', $T, 'P', $T, 'VALUE', $NL)"/>
      <xsl:for-each select="m:measCollecFile/m:measData">
        <xsl:variable name="element"
            select="concat($file_time, $T, m:managedElement/@localDn, $T)"/>
        <xsl:for-each select="m:measInfo">
          <xsl:variable name="info"
              select="concat($element, @measInfoId, $T, m:job/@jobId, $T,
                             m:granPeriod/@endTime, $T, m:granPeriod/@duration, $T)"/>
          <xsl:for-each select="m:measValue">
            <xsl:variable name="object" select="concat($info, @measObjLdn, $T)"/>
            <xsl:for-each select="m:r">
              <xsl:value-of select="concat($object, @p, $T, ., $NL)"/>
            </xsl:for-each>
          </xsl:for-each>
        </xsl:for-each>
      </xsl:for-each>
    </exsl:document>

    <exsl:document href="{$prefix}suspect_bench.data" method="text" encoding="UTF-8">
      <xsl:value-of select="concat('FILE_TIME', $T, 'MEAS_INFO_ID', $T, 'MEAS_OBJ_LDN', $T,
                                   'SUSPECT', $NL)"/>
      <xsl:for-each select="m:measCollecFile/m:measData/m:measInfo">
        <xsl:variable name="info" select="concat($file_time, $T, @measInfoId, $T)"/>
        <xsl:for-each select="m:measValue">
          <xsl:value-of select="concat($info, @measObjLdn, $T)"/>
          <xsl:choose>
            <xsl:when test="string(m:suspect) = 'true'">1</xsl:when>
            <xsl:otherwise>0</xsl:otherwise>
          </xsl:choose>
          <xsl:value-of select="$NL"/>
        </xsl:for-each>
      </xsl:for-each>
    </exsl:document>
  </xsl:template>

</xsl:stylesheet>
